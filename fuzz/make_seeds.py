#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into corpus/archive and corpus/memtable."""

import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def text(s):
    return struct.pack('<i', len(s)) + s


def integer(no, value):
    return struct.pack('<HiBi', no, 4, 1, value)


def string(no, size, value):
    if value is None:
        return struct.pack('<HiB', no, size + 1, 0)
    return struct.pack('<HiB', no, size + 1, 1) + value + b'\0'


def blob(no, value):
    return struct.pack('<Hi', no, len(value)) + value


def row(*fields):
    return b'\x03' + b''.join(fields) + b'\0\0' + b'\xf3'


def content():
    deleted = (b'\x02' + struct.pack('<h', -1) + text(b'rep_DELETED')
               + text(b'TABLENAME;String;20;0;RECORDID;Integer;0;0;RECORDGUID;String;38;0')
               + row(string(1, 20, b'A'), integer(2, 7), string(3, 38, b'{G}')) + b'\xf2')
    table = (b'\x02' + struct.pack('<h', 0) + text(b'A')
             + text(b'ID;Integer;0;0;NAME;String;10;0;NOTE;Memo;0;0;D;DateTime;0;0;P;BCD;0;0;18')
             + row(integer(1, 1), string(2, 10, None), blob(3, b'memo'))
             + row(integer(1, 2), string(2, 10, b'x')) + b'\xf2')
    return b'\x01' + text(b'A\r\nB\r\n') + deleted + table + b'\x02\0\0' + text(b'B') + text(b'X;Smallint;0;0') + b'\xf2\xf1'


def header():
    return b'\x0a^SQLKELM^Z' + bytes([3]) + b'POB'.ljust(10, b'\0') + struct.pack('<id', 5, 45000.5)


def memtable():
    layout = b'ID;Integer;0;0;NAME;String;10;0;NOTE;Memo;0;0;F;Float;0;0'
    records = [integer(1, 1) + string(2, 10, b'abc') + blob(3, b'') + b'\0\0',
               integer(1, 2) + string(2, 10, None) + blob(3, b'text') + struct.pack('<HiBd', 4, 8, 1, 2.5) + b'\0\0']
    return b'Memtbl' + text(layout) + struct.pack('<ii', 3, len(records)) + b''.join(records)


def write(folder, name, data):
    os.makedirs(os.path.join(HERE, 'corpus', folder), exist_ok=True)
    with open(os.path.join(HERE, 'corpus', folder, name), 'wb') as f:
        f.write(data)


write('archive', 'content', content())
write('archive', 'content_empty', b'\x01' + text(b'') + b'\xf1')
write('archive', 'archive.ZR2', zlib.compress(header() + content(), 9))
write('memtable', 'table', memtable())
write('memtable', 'empty', b'Memtbl' + text(b'A;Integer;0;0') + struct.pack('<ii', 0, 0))
