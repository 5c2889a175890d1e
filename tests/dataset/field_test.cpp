#include "dataset/field.h"

#include <gtest/gtest.h>

#include "dataset/errors.h"
#include "dataset/memory_table.h"

namespace tamaril::dataset {
namespace {

TEST(Field, TextGoesThroughHandlersAndCalculatedFieldsAreComputed) {
  TQVMMemoryTable table;
  table.SetFieldLayout("Secret;String;10;0;Num;Integer;0;0");
  table.AddField("Secret", FieldType::String, 10);
  table.AddField("Num", FieldType::Integer);
  TField& twice = table.AddField("Twice", FieldType::Integer, 0, TFieldKind::Calculated);
  table.OnCalcFields = [](TDataSet& dataset) {
    dataset.FieldByName("Twice").SetAsInteger(dataset.FieldByName("Num").AsInteger() * 2);
  };
  TField& secret = table.FieldByName("Secret");
  secret.OnSetText = [](TField& field, const std::string& text) {
    field.SetAsString(std::string(text.rbegin(), text.rend()));
  };
  secret.OnGetText = [](TField& field, std::string& text, bool) {
    const std::string stored = field.AsString();
    text.assign(stored.rbegin(), stored.rend());
  };
  table.Open();
  table.Append();
  secret.SetText("abc");
  table.FieldByName("Num").SetAsInteger(21);
  table.Post();
  EXPECT_EQ(secret.AsString(), "cba");
  EXPECT_EQ(secret.Text(), "abc");
  EXPECT_EQ(twice.AsInteger(), 42);
  EXPECT_EQ(BuildFieldLayout(table, false), "Secret;String;10;0;Num;Integer;0;0;Twice;Integer;0;2");
}

TEST(Field, EventsRunInOrderAndAfterPostSeesTheStoredRow) {
  TQVMMemoryTable table;
  table.SetFieldLayout("Num;Integer;0;0");
  std::vector<std::string> calls;
  table.BeforeInsert = [&](TDataSet&) { calls.push_back("BeforeInsert"); };
  table.OnNewRecord = [&](TDataSet& d) {
    calls.push_back("OnNewRecord");
    d.FieldByName("Num").SetAsInteger(5);
  };
  table.BeforePost = [&](TDataSet&) { calls.push_back("BeforePost"); };
  table.AfterPost = [&](TDataSet& d) { calls.push_back("AfterPost " + d.FieldByName("Num").AsString()); };
  table.Open();
  table.Insert();
  EXPECT_FALSE(table.Modified());
  table.Post();
  EXPECT_EQ(calls, std::vector<std::string>({"BeforeInsert", "OnNewRecord", "BeforePost", "AfterPost 5"}));
}

TEST(Field, RecordCopiesToAndFromDatasets) {
  TQVMMemoryTable table;
  table.SetFieldLayout("Name;String;10;0;Num;Integer;0;0;Note;Memo;10;0");
  table.Open();
  table.Append();
  table.FieldByName("Name").SetAsString("a");
  table.FieldByName("Note").SetAsString("memo");
  table.Post();
  TQVMRecord record(table.FieldDescs());
  record.LoadFromDataSet(table, true);
  EXPECT_EQ(record.GetValue(1), Variant::String("a"));
  EXPECT_TRUE(record.IsNull(2));
  record.SetValue(2, Variant::Integer(7));
  record.SetValue(1, Variant::Null());
  table.Edit();
  record.StoreToDataSet(table);
  table.Post();
  EXPECT_TRUE(table.FieldByName("Name").IsNull());
  EXPECT_EQ(table.FieldByName("Num").AsInteger(), 7);
  EXPECT_EQ(table.FieldByName("Note").AsString(), "memo");
}

TEST(Field, BytesOfBothSizeKindsCopyToAndFromDatasets) {
  TQVMMemoryTable table;
  table.SetFieldLayout("F;Bytes;4;0;V;VarBytes;4;0");
  table.Open();
  table.Append();
  table.FieldByName("F").SetAsVariant(Variant::Bytes("ab"));
  table.FieldByName("V").SetAsVariant(Variant::Bytes(std::string("\0\1\2", 3)));
  table.Post();
  TQVMRecord record(table.FieldDescs());
  record.LoadFromDataSet(table, true);
  EXPECT_EQ(record.GetValue(1), Variant::Bytes(std::string("ab\0\0", 4)));  // padded to its size
  EXPECT_EQ(record.GetValue(2), Variant::Bytes(std::string("\0\1\2", 3)));

  table.Append();
  record.StoreToDataSet(table);
  table.Post();
  EXPECT_EQ(table.FieldByName("V").AsVariant(), Variant::Bytes(std::string("\0\1\2", 3)));
}

TEST(Field, LayoutChangeDiscardsRowsAndEmptyTableKeepsCounter) {
  TQVMMemoryTable table;
  table.SetFieldLayout("Num;Integer;0;0");
  table.Open();
  table.Append();
  table.Post();
  table.Close();
  table.SetFieldLayout("num;integer;0;0");  // differs only in case: rows stay
  EXPECT_EQ(table.RecordCount(), 1);
  table.SetFieldLayout("Num;Integer;0;0;B;Integer;0;0");
  EXPECT_EQ(table.RecordCount(), 0);
  table.Open();
  table.Append();
  table.Post();
  table.EmptyTable();
  EXPECT_TRUE(table.IsEmpty());
  table.Append();
  table.Post();
  EXPECT_EQ(table.Records().Current()->Id, 2u);
}

}  // namespace
}  // namespace tamaril::dataset
