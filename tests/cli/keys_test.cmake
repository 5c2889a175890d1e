# Drives "tamaril-cli keys" and the keys of definitions: the site's key is made once, private,
# shown only as its public half, refused when others can read it; a definition takes a partner's
# public key and shows it, and nothing prints the secret.
# Arguments: -DCLI=<program> -DWORK=<scratch folder>

cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/user" "${WORK}/home")
set(ENV{HOME} "${WORK}/user")
set(key_file "${WORK}/home/SITE.KEY")
set(everything "")

function(run expected_rc)
  execute_process(COMMAND "${CLI}" --home "${WORK}/home" ${ARGN}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL expected_rc)
    message(FATAL_ERROR "'${ARGN}' ended with ${rc} instead of ${expected_rc}:\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
  set(everything "${everything}${out}${err}" PARENT_SCOPE)
endfunction()

function(mode_of path result)
  execute_process(COMMAND stat -c %a "${path}" OUTPUT_VARIABLE mode OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(${result} "${mode}" PARENT_SCOPE)
endfunction()

run(1 keys show)
if(NOT err STREQUAL "tamaril-cli: Toto místo nemá klíč (${key_file}); vytvoří ho tamaril-cli keys create\n")
  message(FATAL_ERROR "no key yet: ${err}")
endif()

# Made under a lax umask all the same private; the public half is one line for the partner.
execute_process(COMMAND sh -c "umask 022 && exec \"$0\" --home \"$1\" keys create" "${CLI}" "${WORK}/home"
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "keys create: ${rc} ${out}${err}")
endif()
set(everything "${everything}${out}${err}")
mode_of("${key_file}" mode)
if(NOT mode STREQUAL "600")
  message(FATAL_ERROR "the key file is ${mode}, not 600")
endif()
if(NOT out MATCHES "\n(ed25519:[A-Za-z0-9_-]+)\n$")
  message(FATAL_ERROR "keys create did not end with the public key:\n${out}")
endif()
set(public "${CMAKE_MATCH_1}")
run(0 keys show)
if(NOT out STREQUAL "${public}\n")
  message(FATAL_ERROR "keys show: '${out}', expected '${public}'")
endif()

# A second key would be one the partners do not know.
file(SHA256 "${key_file}" before)
run(1 keys create)
file(SHA256 "${key_file}" after)
if(NOT before STREQUAL after OR NOT err MATCHES "už existuje")
  message(FATAL_ERROR "keys create replaced the key or said: ${err}")
endif()

# A key others can read is not used, and the person is told how to mend it.
file(CHMOD "${key_file}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
run(1 keys show)
if(NOT err MATCHES "chmod 600")
  message(FATAL_ERROR "a readable key file: ${err}")
endif()
file(CHMOD "${key_file}" PERMISSIONS OWNER_READ OWNER_WRITE)

# Keys of definitions: a partner's public key, refused when it is none or on the wrong list.
# The semicolon is escaped so that CMake passes the connection string as one argument.
set(connection "Provider=SQLite\\;Data Source=${WORK}/home")
run(1 defs add --import --signature KLIENT --partner P --connection "${connection}" --database d --trust bogus)
if(NOT err MATCHES "není veřejný klíč")
  message(FATAL_ERROR "--trust bogus: ${err}")
endif()
run(1 defs add --export --signature KLIENT --partner P --connection "${connection}" --database d --trust "${public}")
run(0 defs add --import --signature KLIENT --partner P --connection "${connection}" --database d --trust "${public}")
run(0 defs show --import --signature KLIENT)
if(NOT out MATCHES "Důvěryhodný klíč=${public}\n")
  message(FATAL_ERROR "defs show lacks the trusted key:\n${out}")
endif()
# An empty value removes the key (passed here as its own argument: run() would drop it).
execute_process(COMMAND "${CLI}" --home "${WORK}/home" defs edit --import --signature KLIENT --trust ""
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "--trust \"\": ${rc} ${err}")
endif()
run(0 defs show --import --signature KLIENT)
if(out MATCHES "${public}")
  message(FATAL_ERROR "an empty --trust kept the key:\n${out}")
endif()

# The secret appears in no output.
file(READ "${key_file}" secret)
string(REGEX REPLACE "^[^:]*:" "" secret "${secret}")
string(STRIP "${secret}" secret)
string(FIND "${everything}" "${secret}" at)
if(NOT at EQUAL -1)
  message(FATAL_ERROR "the secret key was printed")
endif()
