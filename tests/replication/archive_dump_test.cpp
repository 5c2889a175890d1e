#include "replication/archive_dump.h"

#include <gtest/gtest.h>

#include <sstream>

#include "dataset/field_layout.h"
#include "dataset/record.h"
#include "replication/archive.h"
#include "replication/errors.h"
#include "support/temp_dir.h"
#include "text/encoding.h"

namespace tamaril::replication {
namespace {

using dataset::Variant;

constexpr const char* kDeletedLayout = "TABLENAME;String;20;0;RECORDID;Integer;0;0;RECORDGUID;String;38;0";
constexpr const char* kTableLayout = "ID;Integer;0;0;NAME;String;10;0;NOTE;Memo;0;0";

// Content after the header, assembled the way the publisher writes it.
class ContentBuilder {
 public:
  ContentBuilder& Byte(std::uint8_t byte) {
    out_.WriteU8(byte);
    return *this;
  }
  ContentBuilder& TableList(std::string_view names) {
    Byte(1);
    dataset::WriteStreamString(names, out_);
    return *this;
  }
  ContentBuilder& TableHeader(std::int16_t flag, std::string_view name, const std::string& layout) {
    Byte(2);
    out_.WriteU16(static_cast<std::uint16_t>(flag));
    dataset::WriteStreamString(name, out_);
    dataset::WriteStreamString(layout, out_);
    return *this;
  }
  ContentBuilder& Table(std::int16_t flag, std::string_view name, const std::string& layout) {
    TableHeader(flag, name, layout);
    dataset::ParseFieldLayout(layout, &defs_, false);
    dataset::BuildFieldDescs(defs_, descs_);
    return *this;
  }
  ContentBuilder& Row(const std::vector<Variant>& values) {
    Byte(3);
    dataset::TQVMRecord record(descs_);
    for (std::size_t i = 0; i < values.size(); ++i) record.SetValue(static_cast<int>(i + 1), values[i]);
    record.WriteToStream(out_, false);
    return Byte(0xF3);
  }
  std::string Take() { return out_.Take(); }

 private:
  dataset::MemoryWriter out_;
  dataset::TFieldDefs defs_;
  dataset::TFieldDescs descs_;
};

std::string SmallContent() {
  return ContentBuilder()
      .TableList("T\x9a\r\nB\r\n")
      .Table(-1, "rep_DELETED", kDeletedLayout)
      .Row({Variant::String("B"), Variant::Integer(7), Variant::String("{G}")})
      .Byte(0xF2)
      .Table(0, "B", kTableLayout)
      .Byte(0xF2)
      .Table(0, "T\x9a", kTableLayout)
      .Row({Variant::Integer(1), Variant::Null(), Variant::Bytes("two\nlines \"q\"")})
      .Row({Variant::Integer(2), Variant::String(""), Variant::Bytes("")})
      .Byte(0xF2)
      .Byte(0xF1)
      .Take();
}

std::string Archive(std::string_view content) {
  tArchiveHeader header;
  header.Signature = "POB\x9a";
  header.ExportNo = 42;
  header.ExportTime = 45000.5;
  dataset::MemoryWriter file;
  DeflateWriter deflate(file);
  deflate.WriteBytes(EncodeArchiveHeader(header));
  deflate.WriteBytes(content);
  deflate.Finish();
  return file.Take();
}

const std::string kHeaderText =
    "identifikace archivu: v pořádku\n"
    "Signature: POBš\n"
    "EXPORTNO: 42\n"
    "čas exportu: 2023-03-15T12:00:00.000\n";

// What names the failure of damaged content.
const std::string kDamaged = "Archiv (paměť) je poškozený: ";

// The dump text, and the failure's message in UTF-8 ("" without one).
std::pair<std::string, std::string> Dump(std::string_view archive, bool rows) {
  std::ostringstream out;
  std::string error;
  try {
    DumpArchiveBytes(archive, rows, out);
  } catch (const ReplicationError& e) {
    error = text::AnsiToUtf8(e.what());
  }
  return {out.str(), error};
}

TEST(ArchiveDump, TablesAndRows) {
  const std::string archive = Archive(SmallContent());
  const std::string tables =
      "tabulky: Tš, B\n"
      "tabulka rep_DELETED příznak=-1 řádků=1\n"
      "popis polí: TABLENAME;String;20;0;RECORDID;Integer;0;0;RECORDGUID;String;38;0\n";
  EXPECT_EQ(Dump(archive, false),
            std::make_pair(kHeaderText + tables +
                               "tabulka B příznak=0 řádků=0\n"
                               "popis polí: ID;Integer;0;0;NAME;String;10;0;NOTE;Memo;0;0\n"
                               "tabulka Tš příznak=0 řádků=2\n"
                               "popis polí: ID;Integer;0;0;NAME;String;10;0;NOTE;Memo;0;0\n"
                               "konec\n",
                           std::string()));
  EXPECT_EQ(Dump(archive, true),
            std::make_pair(kHeaderText + tables +
                               "řádek 1\n"
                               "  TABLENAME=\"B\"\n"
                               "  RECORDID=7\n"
                               "  RECORDGUID=\"{G}\"\n"
                               "tabulka B příznak=0 řádků=0\n"
                               "popis polí: ID;Integer;0;0;NAME;String;10;0;NOTE;Memo;0;0\n"
                               "tabulka Tš příznak=0 řádků=2\n"
                               "popis polí: ID;Integer;0;0;NAME;String;10;0;NOTE;Memo;0;0\n"
                               "řádek 1\n"
                               "  ID=1\n"
                               "  NAME=NULL\n"
                               "  NOTE=\"two\\x0alines \\\"q\\\"\"\n"
                               "řádek 2\n"
                               "  ID=2\n"
                               "  NAME=\"\"\n"
                               "  NOTE=NULL\n"
                               "konec\n",
                           std::string()));
}

TEST(ArchiveDump, FileOnDisk) {
  testing::TempDir dir;
  const std::string path = dir.File("POB.ZR2");
  testing::WriteWholeFile(path, Archive(ContentBuilder().TableList("").Byte(0xF1).Take()));
  std::ostringstream out;
  DumpArchive(path, true, out);
  EXPECT_EQ(out.str(), kHeaderText + "tabulky: \nkonec\n");
}

TEST(ArchiveDump, RowCutInTheMiddle) {
  std::string content = SmallContent();
  content.resize(content.find("two\nlines") + 2);
  const std::string archive = Archive(content);
  const std::string until_cut =
      kHeaderText +
      "tabulky: Tš, B\n"
      "tabulka rep_DELETED příznak=-1 řádků=1\n"
      "popis polí: TABLENAME;String;20;0;RECORDID;Integer;0;0;RECORDGUID;String;38;0\n";
  const std::string message = kDamaged + "Tabulka Tš, řádek 1: Unexpected end of stream";
  const std::string layout = "popis polí: ID;Integer;0;0;NAME;String;10;0;NOTE;Memo;0;0\n";
  EXPECT_EQ(Dump(archive, false), std::make_pair(until_cut + "tabulka B příznak=0 řádků=0\n" + layout +
                                                     "tabulka Tš příznak=0 řádků=0\n" + layout,
                                                 message));
  EXPECT_EQ(Dump(archive, true),
            std::make_pair(until_cut +
                               "řádek 1\n"
                               "  TABLENAME=\"B\"\n"
                               "  RECORDID=7\n"
                               "  RECORDGUID=\"{G}\"\n"
                               "tabulka B příznak=0 řádků=0\n" +
                               layout + "tabulka Tš příznak=0 řádků=0\n" + layout + "řádek 1\n",
                           message));
}

TEST(ArchiveDump, DamageNamesTableAndRow) {
  const std::string rows_of_b = "tabulka B příznak=0 řádků=1\npopis polí: ID;Integer;0;0\nřádek 1\n  ID=5\n";
  struct Case {
    std::string content;
    std::string tail;  // the dump with rows after "tabulky: B\n"
    std::string message;
  };
  const std::vector<Case> cases = {
      {ContentBuilder()
           .TableList("B\r\n")
           .Table(0, "B", "ID;Integer;0;0")
           .Row({Variant::Integer(5)})
           .Byte(0xF2)
           .Take(),
       rows_of_b + "obsah končí předčasně (chybí koncová značka)\n",
       kDamaged + "Obsah archivu končí bez koncové značky"},
      {ContentBuilder().TableList("B\r\n").Table(0, "B", "ID;Integer;0;0").Row({Variant::Integer(5)}).Take(),
       rows_of_b + "obsah končí předčasně (chybí koncová značka)\n",
       kDamaged + "Tabulka B: Obsah archivu končí bez koncové značky"},
      {ContentBuilder()
           .TableList("B\r\n")
           .Table(0, "B", "ID;Integer;0;0")
           .Row({Variant::Integer(5)})
           .Byte(7)
           .Take(),
       rows_of_b, kDamaged + "Tabulka B: Místo řádku nebo konce tabulky je bajt 0x07"},
      {ContentBuilder()
               .TableList("B\r\n")
               .Table(0, "B", "ID;Integer;0;0")
               .Row({Variant::Integer(5)})
               .Byte(3)
               .Take() +
           std::string("\x02\0", 2),
       rows_of_b + "řádek 2\n",
       kDamaged + "Tabulka B, řádek 2: Field number 2 in the record stream is outside the layout (1..1)"},
      {ContentBuilder().TableList("B\r\n").Table(0, "B", "ID;Integer;0;0").Byte(3).Take() +
           std::string("\x01\0\x04\0\0\0\x01\x05\0\0\0\0\0\xF2", 14),
       "tabulka B příznak=0 řádků=0\npopis polí: ID;Integer;0;0\nřádek 1\n  ID=5\n",
       kDamaged + "Tabulka B, řádek 1: Za řádkem chybí značka konce řádku"},
      {ContentBuilder().TableList("B\r\n").TableHeader(0, "B", "ID;Nonsense;0;0").Take(),
       "tabulka B příznak=0 řádků=0\npopis polí: ID;Nonsense;0;0\n",
       kDamaged + "Tabulka B: Nepodporovaný typ pole: ftUnknown"},
      {ContentBuilder().TableList("B\r\n").Byte(0xF1).Byte(0).Take(),
       "konec\nza koncovou značkou následují další data\n",
       kDamaged + "Za koncovou značkou archivu následují další data"},
  };
  for (const Case& c : cases) {
    const auto [text, error] = Dump(Archive(c.content), true);
    EXPECT_EQ(text, kHeaderText + "tabulky: B\n" + c.tail) << c.message;
    EXPECT_EQ(error, c.message);
  }
}

TEST(ArchiveDump, ArchiveThatIsNoneOrCutShort) {
  std::string foreign = Archive(SmallContent());
  dataset::MemoryWriter other;
  {
    DeflateWriter deflate(other);
    deflate.WriteBytes(std::string(34, 'x') + SmallContent());
    deflate.Finish();
  }
  EXPECT_EQ(Dump(other.Data(), true), std::make_pair(std::string("identifikace archivu: chybná\n"),
                                                     std::string("Soubor (paměť) není archiv")));

  // The check value is missing or wrong while every content byte can be decoded.
  std::string unfinished = Archive(ContentBuilder().TableList("").Byte(0xF1).Take());
  unfinished.resize(unfinished.size() - 4);
  EXPECT_EQ(Dump(unfinished, false),
            std::make_pair(kHeaderText + "tabulky: \nkonec\n",
                           std::string("Archiv (paměť) je useknutý: komprimovaný proud nekončí")));
  foreign.back() = static_cast<char>(foreign.back() ^ 0x55);
  const auto [text, error] = Dump(foreign, true);
  EXPECT_EQ(text.rfind(kHeaderText + "tabulky: Tš, B\n", 0), 0U) << text;
  EXPECT_EQ(error, "Chyba dekomprese archivu (paměť): nesouhlasí kontrolní součet dat");

  // Whole content, but the file goes on after the zlib stream.
  EXPECT_EQ(Dump(Archive(ContentBuilder().TableList("").Byte(0xF1).Take()) + "x", false),
            std::make_pair(kHeaderText + "tabulky: \nkonec\n",
                           std::string("Archiv (paměť): za komprimovaným proudem následují další bajty")));
}

// The counts the import's progress starts from: every section with its whole rows, those of a
// damaged archive up to the damage, none for a file that is no archive.
TEST(CountArchiveRows, CountsEverySectionAndStopsAtADamage) {
  testing::TempDir dir;
  const auto counted = [&dir](const std::string& file) {
    const std::string path = dir.File("A.ZR2");
    testing::WriteWholeFile(path, file);
    std::string text;
    for (const tArchiveTableRows& section : CountArchiveRows(path))
      text += text::AnsiToUtf8(section.name) + ":" + std::to_string(section.flag) + ":" +
              std::to_string(section.rows) + " ";
    return text;
  };
  EXPECT_EQ(counted(Archive(SmallContent())), "rep_DELETED:-1:1 B:0:0 Tš:0:2 ");
  std::string content = SmallContent();
  content.resize(content.find("two\nlines") + 2);
  EXPECT_EQ(counted(Archive(content)), "rep_DELETED:-1:1 B:0:0 Tš:0:0 ");
  EXPECT_EQ(counted("no archive"), "");
  EXPECT_TRUE(CountArchiveRows(dir.File("missing.ZR2")).empty());
}

TEST(ArchiveDump, WarnsOfATableTheListDoesNotName) {
  const std::string content = ContentBuilder()
                                  .TableList("b\r\n")
                                  .Table(0, "B", "ID;Integer;0;0")
                                  .Byte(0xF2)
                                  .Table(0, "C", "ID;Integer;0;0")
                                  .Row({Variant::Integer(5)})
                                  .Byte(0xF2)
                                  .Byte(0xF1)
                                  .Take();
  EXPECT_EQ(Dump(Archive(content), false),
            std::make_pair(kHeaderText + "tabulky: b\n"
                                         "tabulka B příznak=0 řádků=0\n"
                                         "popis polí: ID;Integer;0;0\n"
                                         "tabulka C příznak=0 řádků=1\n"
                                         "upozornění: tabulka C není v seznamu tabulek\n"
                                         "popis polí: ID;Integer;0;0\n"
                                         "konec\n",
                           std::string()));
}

TEST(ArchiveDump, RefusesWhatIsBeyondTheBounds) {
  // A table list whose length says 300 MB is refused from its length alone.
  const auto [text, error] = Dump(Archive(std::string("\x01\x00\xa3\xe1\x11", 5) + "T\r\n"), false);
  EXPECT_EQ(text, kHeaderText);
  EXPECT_EQ(error, kDamaged + "Seznam tabulek má 300000000 bajtů, smí mít nejvýše 16777216");
  const std::string big_layout =
      ContentBuilder().TableList("B\r\n").TableHeader(0, "B", std::string(kMaxLayoutLength + 1, 'x')).Take();
  EXPECT_EQ(
      Dump(Archive(big_layout), false),
      std::make_pair(kHeaderText + "tabulky: B\ntabulka B příznak=0 řádků=0\n",
                     kDamaged + "Tabulka B: Popis polí tabulky má 1048577 bajtů, smí mít nejvýše 1048576"));
}

}  // namespace
}  // namespace tamaril::replication
