#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/field_layout.h"
#include "dataset/qvm_dataset.h"
#include "dataset/variant.h"
#include "dbaccess/connection.h"
#include "dbaccess/cursor.h"
#include "dbaccess/value.h"

namespace tamaril::dbaccess {

class TQueryRecordset;

/// The field definitions of a result's columns: WideString becomes String, Unknown (read as
/// text) and strings without a usable size become Memo, a Guid is 38 characters, BCD keeps its
/// precision (size = scale). Empty names become "COLUMNn" and repeated names get "_1", "_2", …
/// so that every field can be found by name. Throws DatasetError when the row does not fit a
/// record buffer.
dataset::TFieldDefs FieldDefsFromColumns(const std::vector<ColumnInfo>& columns);

/// What the rows of a column hold beyond its declared type. A database that does not hold values
/// to their declared type (SQLite) is asked before the rows are read, so that no value is cut.
struct FieldRoom {
  std::string name;            ///< the column
  int longest_text = 0;        ///< characters of its longest value
  bool wide_integers = false;  ///< it holds integers beyond the range of its integer type
};

/// Gives the fields of `defs` the room `room` asks for: a String or FixedChar field shorter
/// than its longest value takes that size (a Memo beyond the largest string size, and every
/// widened text a Memo when the record would not fit otherwise); a 16- or 32-bit integer field
/// with wider values becomes Largeint. Fields `room` does not name stay as they are.
void WidenFieldDefs(dataset::TFieldDefs& defs, const std::vector<FieldRoom>& room);

/// The fields of `defs` for texts held as UTF-8: a String or FixedChar field of n characters
/// takes 4n bytes, the most UTF-8 needs for them (a Memo beyond the largest string size, and
/// every such field a Memo when the record would not fit otherwise).
void UnicodeFieldDefs(dataset::TFieldDefs& defs);

/// A column value as a field of `type` takes it: texts stay Windows-1250, numbers and
/// date-times are read with the access layer's own rules (full stop, ISO dates), bytes and
/// memo texts become byte blocks, a GUID its braced text. Throws DatabaseError when the value
/// has no reading of that kind.
dataset::Variant ValueToFieldVariant(const Value& value, dataset::FieldType type);

/// The rows of a query as a read-only dataset. The statement is prepared on first need and
/// kept: Close, new parameter values and Open run it again without preparing it again.
/// Unidirectional, the rows are read from the server as the dataset moves forward and the
/// dataset cannot go back (First only before the second row); otherwise every row is fetched
/// at Open, with full navigation, RecordCount, bookmarks, Locate and Lookup. The prepared
/// statement belongs to the connection: unprepare (or destroy) the dataset before the
/// connection closes.
class TQueryDataSet : public dataset::TQVMDataset {
 public:
  TQueryDataSet();
  /// A query of `sql` on `connection` (not owned).
  TQueryDataSet(Connection& connection, std::string sql, ParameterStyle style = ParameterStyle::Named);
  ~TQueryDataSet() override;

  Connection* GetConnection() const noexcept { return connection_; }
  /// Sets the connection (not owned); drops the prepared statement. Throws when open.
  void SetConnection(Connection* connection);
  const std::string& SQL() const noexcept { return sql_; }
  /// Sets the statement text; drops the prepared statement. Throws when open.
  void SetSQL(std::string sql);
  ParameterStyle GetParameterStyle() const noexcept { return style_; }
  /// Sets how the text marks parameters; drops the prepared statement. Throws when open.
  void SetParameterStyle(ParameterStyle style);
  bool Unidirectional() const noexcept { return unidirectional_; }
  /// Chooses forward-only reading (true) or fetching every row at Open. Throws when open.
  void SetUnidirectional(bool unidirectional);

  /// The room the fields need beyond their columns' declared types, applied from the next
  /// Open (`WidenFieldDefs`). Throws when open.
  void SetFieldRoom(std::vector<FieldRoom> room);

  /// Prepares the statement unless it is prepared; throws DatabaseError (no connection, a
  /// closed one, or the driver's refusal).
  Statement& Prepare();
  /// Drops the prepared statement (and its parameter values). Throws when open.
  void Unprepare();
  /// The prepared statement, or null before the first need.
  Statement* PreparedStatement() const noexcept { return statement_.get(); }

  /// The parameters of the statement (prepares it); throws as Prepare.
  const std::vector<Parameter>& Parameters() { return Prepare().Parameters(); }
  /// Declares the next "?" parameter (positional style); throws as Prepare and
  /// Statement::DeclareParameter.
  void DeclareParameter(std::string name, dataset::FieldType type, int size);
  /// Sets every parameter of that name (ignoring case) for the next Open; throws DatabaseError
  /// when there is none.
  void SetParameter(std::string_view name, const Value& value);
  /// Sets the parameter at a position (0-based) for the next Open; throws std::out_of_range.
  void SetParameter(std::size_t index, Value value);
  /// Sets every parameter back to NULL.
  void ClearParameters();

  /// Fully fetched: the number of rows; unidirectional: −1 (not known before the end).
  int RecordCount() const override;
  /// Fully fetched: 0-based position of the current row; unidirectional: −1.
  int RecNo() const override;
  bool IsSequenced() const override { return !unidirectional_; }
  /// Throws DatasetError "Operation not allowed on a unidirectional dataset" when unidirectional.
  bool Locate(const std::string& key_fields, const dataset::Variant& key_values, int options = 0) override;
  /// Throws DatasetError "Operation not allowed on a unidirectional dataset" when unidirectional.
  dataset::Variant Lookup(const std::string& key_fields, const dataset::Variant& key_values,
                          const std::string& result_fields) override;
  bool BookmarkValid(const std::string& bookmark) override;
  /// The fields of the current row whose text lost characters when the database's text was
  /// converted to Windows-1250 (each such character became '?'), in field order.
  std::vector<std::string> UnmappableFields() const;

 protected:
  dataset::TQVMRecordsetClass GetRecordsetClass() override;
  bool GetCanModify() const override { return false; }
  dataset::GetResult GetRecord(std::byte* buffer, dataset::GetMode mode, bool check) override;
  void InternalSetToRecord(const std::byte* buffer) override;
  void InternalGotoBookmark(const std::string& bookmark) override;

 private:
  friend class TQueryRecordset;
  /// Runs the prepared statement with the current parameter values.
  std::unique_ptr<Cursor> Run();
  void CheckUnidirectional(bool allowed) const;

  Connection* connection_ = nullptr;
  std::string sql_;
  ParameterStyle style_ = ParameterStyle::Named;
  bool unidirectional_ = false;
  std::vector<FieldRoom> field_room_;
  std::unique_ptr<Statement> statement_;
};

}  // namespace tamaril::dbaccess
