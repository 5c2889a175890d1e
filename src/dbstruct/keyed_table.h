#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "dataset/field_type.h"
#include "dataset/variant.h"
#include "dbaccess/catalog.h"
#include "dbaccess/parameter.h"
#include "dbaccess/value.h"
#include "dbstruct/structure.h"

namespace tamaril::dbaccess {
class Statement;
struct FieldRoom;
}  // namespace tamaril::dbaccess

namespace tamaril::dbstruct {

/// One column of a table as a dialect form reads it.
struct tColumnDef {
  std::string Name;
  dataset::FieldType DataType = dataset::FieldType::Unknown;
  int Precision = 0;      ///< declared size or precision
  bool Required = false;  ///< the column does not accept NULL
  int Size = 0;           ///< characters a text column takes where the database refuses more; 0: no limit
};

/// One index of a table: its name, its columns (";"-separated) and its options.
struct tIndexDef {
  std::string Name;
  std::string Fields;
  bool Primary = false;
  bool Unique = false;
};

/// True for the field types an integer primary key may have (16-bit, 32-bit, unsigned 16-bit
/// integer and auto-increment).
bool IsIntegerKeyType(dataset::FieldType type);

/// The local date and time now as days since 30 December 1899, with milliseconds.
double NowAsDateTime();

/// What the SQL Server and SQLite forms of a table share: the columns, indexes, keys, identity
/// and trigger facts read by LoadStructure, the questions answered from them, and the flow of
/// every lookup and write. A form supplies its identifier quoting, its value binding and the
/// few statements whose text differs. Column names compare ignoring case.
class tKeyedTbl_Structure : public tTbl_Structure {
 public:
  /// A table of `database` (not owned), empty until LoadStructure.
  explicit tKeyedTbl_Structure(tDatabase_Structure& database);
  ~tKeyedTbl_Structure() override;

  std::string GetTableName() const override { return TableName; }
  std::unique_ptr<tExistingRecords> FindExistingRecords(dataset::TDataSet& source) override;
  std::unique_ptr<tExistingRecords> FindExistingByKey(const std::string& row_guid, std::int32_t id) override;
  /// Counts and returns (unopened, forward only) the rows matching `where` (pasted as SQL) in
  /// `order_by` order; throws what the database throws.
  std::unique_ptr<dataset::TDataSet> OpenTableData(const std::string& where, const std::string& order_by,
                                                   int& row_count) override;
  /// Inserts the writable columns of the current row of `source`; throws what the database throws.
  void InsertRecord(dataset::TDataSet& source) override;
  /// Writes the fields IsFieldToWrite answers for; sends nothing when there is none.
  void UpdateRecord(dataset::TDataSet& source) override;
  /// Deletes the row and, first, its detail rows (deepest first); throws StructureError "Table X
  /// has neither rowGuid, nor Integer primary key" when no column identifies a row.
  std::int64_t DeleteRecord(const std::string& row_guid, std::int32_t id) override;
  bool MastersExist(dataset::TDataSet& source, bool only_changed_fields,
                    std::string& constraint_name) override;
  /// Checks the values as the insert and update would bind them (`ParameterValues`): a NULL for
  /// a column that takes none (except a memo or blob, whose empty value the archive carries as
  /// NULL), a value that has no exact reading of the column's type, a text longer than `Size`,
  /// an integer beyond the column's range; `problem` is Czech, naming column and value.
  bool ValuesFit(dataset::TDataSet& source, bool only_changed_fields, std::string& problem) override;
  bool HasField(const std::string& name) const override { return FindFieldDef(name) != nullptr; }
  /// A column of the table that is not computed.
  bool IsFieldWritable(const std::string& name) const override;
  /// Drops the lookups and the prepared statements (they belong to the current connection).
  void CloseData() override;
  /// "C1=v1,C2=v2" over the primary-key columns the dataset has.
  std::string GetKeyValuesText(dataset::TDataSet& dataset) override;

  /// The name as this form writes it in a statement.
  virtual std::string QuoteIdentifier(std::string_view name) const = 0;
  /// The parameter name that stands for `column` in a statement text: the column name when it
  /// can be one, otherwise "rep_Column" and the column's number counted from 1.
  std::string ParameterName(std::string_view column) const;

  /// The RowGuid column used to identify rows: empty when IgnoreRowGuid is set.
  std::string IdentifyingGuidColumn() const { return IgnoreRowGuid ? std::string() : RowGuidColumn; }
  /// Name of the primary key (0) or of the n-th unique non-primary index; empty when none.
  std::string IndexName(int index) const;
  /// "COL=:KEY_COL" of the identifying RowGuid column, or empty.
  std::string RowGuidCondition() const;
  /// "COL=:KEY_COL" of the integer key, or empty.
  std::string IntKeyCondition() const;
  /// The ":KEY_" condition of the primary key (0) or of the n-th unique non-primary index; empty
  /// when there is no such index. `qualified` puts the table name before every column.
  std::string IndexCondition(int index, bool qualified) const;
  /// The RowGuid condition when rows are identified by RowGuid, else the primary-key condition.
  std::string RecordKeyCondition() const;

  /// The statement values of `parameters` taken from the current row of `source` (null for no
  /// row), each as its column takes it: converted where the field's type differs from the
  /// column's and the conversion is exact. A required column gets the empty text or bytes for a
  /// NULL memo or blob, and the type's default for another NULL or a missing field.
  std::vector<dbaccess::Value> ParameterValues(dataset::TDataSet* source,
                                               const std::vector<dbaccess::Parameter>& parameters) const;

  std::string TableName;
  std::string RowGuidColumn;
  std::string IntKeyColumn;
  std::string PrimaryKeyIndexName;
  std::string IdentityColumn;
  std::int32_t IdentitySeed = 0;
  std::int32_t IdentityIncrement = 0;
  std::int32_t IdentityReseedValue = 0;
  bool IgnoreRowGuid = false;
  bool HasDeleteTrigger = false;
  bool HasInsertTrigger = false;
  bool HasUpdateTrigger = false;
  std::vector<tColumnDef> FieldDefs;
  std::vector<tIndexDef> IndexDefs;
  int UniqueIndexCount = 0;
  std::vector<std::string> ComputedColumns;
  std::vector<std::string> PrimaryKeyFields;
  std::vector<std::string> KeepEnabledTriggers;
  bool IsView = false;  ///< the object is a view, not a table

  /// The column names of an index field list, column-number tokens resolved.
  std::vector<std::string> SplitFields(const std::string& fields) const;

  /// A prepared query of the rows that match one condition, run again for every lookup.
  class tRowLookup {
   public:
    virtual ~tRowLookup() = default;
    /// Sets every parameter from the current row of `source`.
    virtual void Fill(dataset::TDataSet& source) = 0;
    /// Sets the single parameter.
    virtual void SetKey(const dbaccess::Value& value) = 0;
    /// Runs the query: its rows in memory, or null when nothing matched. A table no one holds
    /// any more may be refilled and handed out again by a later run.
    virtual std::shared_ptr<dataset::TQVMmemDataSet> Run() = 0;
  };

 protected:
  /// A lookup of "every column of the table where `condition`".
  virtual std::unique_ptr<tRowLookup> MakeLookup(const std::string& condition) = 0;
  /// The value of a Date field (days since 30 December 1899) as the form binds it.
  virtual dbaccess::Value DateValue(double date) const = 0;
  /// The current date, time or date-time (by `type`) for a required column without a value.
  virtual dbaccess::Value NowValue(dataset::FieldType type) const = 0;
  /// The value of a DateTime field as the form binds it; the base binds the text of the
  /// database's `FormatDateTimeLiteral`.
  virtual dbaccess::Value DateTimeValue(double date_time) const;
  /// The value of a Time field as the form binds it; the base binds `FormatTimeLiteral`'s text.
  virtual dbaccess::Value TimeValue(double time) const;
  /// The smallest and largest value a column of integer type `type` takes, where the database
  /// refuses others; nothing (the base) when it takes any 64-bit integer.
  virtual std::optional<std::pair<std::int64_t, std::int64_t>> IntegerRange(dataset::FieldType type) const;
  /// The number of rows `where_part` (" where …" or empty) selects, for OpenTableData; `room`
  /// gets what their fields need beyond the declared columns. The base counts only.
  virtual int CountTableRows(const std::string& where_part, std::vector<dbaccess::FieldRoom>& room);
  /// How the identifying key stands in the delete clause (a literal or a parameter).
  virtual std::string DeleteKeyText(const dbaccess::Value& key) const = 0;
  /// True when an insert or update of the table may fire a trigger, which could remove a
  /// master row a check has found; the base answers from the triggers the table has.
  virtual bool WriteTriggersMayFire() const;
  /// Deletes the rows of `table`, aliased `alias`, that `clause` (a join and WHERE text) selects;
  /// returns the rows deleted.
  virtual std::int64_t DeleteSelectedRows(const tTbl_Structure& table, const std::string& alias,
                                          const std::string& clause, const dbaccess::Value& key) = 0;

  /// Closes the data and forgets everything read about the table; `table_name` is its new name.
  void ResetStructure(const std::string& table_name);
  /// Takes the table's indexes: unique count, primary key, its fields and the integer key.
  void ReadIndexes(const std::vector<dbaccess::IndexInfo>& indexes);
  /// A column-number token (digits, counted from 1) as its column name; any other token as it is.
  std::string ResolveColumn(const std::string& token) const;
  /// The connection of the owning database; throws StructureError when it has none.
  dbaccess::Connection& Conn() const;
  /// Sets the parameters of `statement` from the current row of `source` (null for no row).
  void FillParameters(dataset::TDataSet* source, dbaccess::Statement& statement) const;
  /// The column of that name (ignoring case), or null.
  const tColumnDef* FindFieldDef(std::string_view name) const;
  /// The n-th (from 1) unique index that is not the primary key, or null.
  const tIndexDef* UniqueIndex(int index) const;
  /// The owning database structure.
  tDatabase_Structure& Owner() const noexcept { return owner_; }
  /// For a write phase on a table that held no row when it began: until EndFreshWrite, a
  /// RowGuid that this phase has not written is known to be missing, and its lookup is not
  /// sent (so the RowGuid index may be set aside for the phase). The same holds for an integer
  /// primary key, as long as every row the phase writes binds an integer for it (a row left to
  /// the identity trigger ends that for the rest of the phase).
  void BeginFreshWrite();
  void EndFreshWrite() noexcept;

 private:
  class tWrittenKeys;
  /// The key under which the identifying RowGuid of the current row of `source` is noted, from
  /// the value the statements bind for it; nothing for NULL.
  std::optional<std::uint64_t> WrittenGuidKey(dataset::TDataSet& source) const;
  /// In a fresh write phase: the current row's RowGuid may have been written in it.
  bool WrittenBefore(dataset::TDataSet& source) const;
  /// The key under which a RowGuid bound as `value` is noted; nothing for NULL.
  static std::optional<std::uint64_t> GuidKeyOf(const dbaccess::Value& value);
  /// In a fresh write phase, notes the current row's RowGuid and integer key as written: as
  /// `bound` (the parameters of the statement that wrote the row, values set) holds them, and
  /// from the row where it does not.
  void NoteWritten(dataset::TDataSet& source, const std::vector<dbaccess::Parameter>& bound);
  /// The integer key the statements bind for the current row of `source`; nothing when they
  /// bind anything else.
  std::optional<std::int64_t> BoundIntKey(dataset::TDataSet& source) const;
  /// In a fresh write phase that still knows its keys: the current row's integer key may have
  /// been written in it.
  bool IntKeyWrittenBefore(dataset::TDataSet& source) const;
  std::unique_ptr<tExistingRecords> FindExisting(dataset::TDataSet* source, const std::string& row_guid,
                                                 std::int32_t id);
  /// The column a statement parameter stands for: by its name (after a "KEY_" prefix) or its
  /// "rep_Column" number; no column when neither names one, and then the name itself.
  struct tParameterColumn {
    const tColumnDef* Def = nullptr;
    std::string Column;
    bool FirstOfItsName = false;  ///< no earlier column has a name a dataset takes for Column
  };
  /// The column of `parameter`, remembered for the columns as they are now.
  const tParameterColumn& ResolveParameter(const std::string& parameter) const;
  /// Where ParameterValues takes each parameter of one list from one source: its column and
  /// the field it reads. It holds while the parameters keep their names, the columns their
  /// storage and the columns and fields it reads their names, and the source its field objects.
  struct tBindPlan {
    struct tSlot {
      const tColumnDef* Def = nullptr;
      std::string Column;  ///< the column's name, or the name looked for when no column has it
      const dataset::TField* Field = nullptr;
      std::string FieldName;
    };
    const std::vector<dbaccess::Parameter>* Parameters = nullptr;
    const dataset::TDataSet* Source = nullptr;
    const tColumnDef* Defs = nullptr;
    std::size_t DefCount = 0;
    std::vector<std::string> ParameterNames;
    std::vector<const dataset::TField*> Fields;  ///< the source's field objects
    std::vector<tSlot> Slots;                    ///< one per parameter
  };
  /// True when `plan` was made for `parameters` of `source` as they and the columns are now.
  bool PlanHolds(const tBindPlan& plan, const dataset::TDataSet* source,
                 const std::vector<dbaccess::Parameter>& parameters) const;
  /// The value ParameterValues gives for the parameter of `slot`, from the current row.
  dbaccess::Value ValueForSlot(const tBindPlan::tSlot& slot) const;
  /// The plan of `parameters` for `source`, made when there is none that holds.
  const tBindPlan& BindPlan(dataset::TDataSet* source,
                            const std::vector<dbaccess::Parameter>& parameters) const;
  void BuildLookups();
  std::vector<std::string> IndexColumns(int index) const;
  /// The value of the non-null `field`, whose value `read` is, as its own type binds it.
  dbaccess::Value FieldValue(const dataset::TField& field, const dataset::Variant& read) const;
  dbaccess::Value RequiredDefault(dataset::FieldType type) const;
  /// How a value fails its column, if it does.
  enum class tMisfit {
    None,
    NotInteger,
    NotNumber,
    NotBoolean,
    NotDateTime,
    NotDate,
    NotTime,
    NotGuid,
    NotText,
    NotBinary,
    TooLong,
    OutOfRange
  };
  /// `value` is what column `def` takes for the non-null `field`, whose value `read` is; when it
  /// does not fit, `value` is the field's own and the result says why.
  tMisfit ColumnValue(const tColumnDef& def, const dataset::TField& field, const dataset::Variant& read,
                      dbaccess::Value& value) const;
  /// The misfit of a non-null field as ValuesFit sees it; values of the column's own kind are
  /// judged without being made.
  tMisfit CheckFit(const tColumnDef& def, const dataset::TField& field) const;
  std::string KeyEquals(const std::string& column) const;
  std::int64_t CascadeDeleteDetails(const tTbl_Structure& master, const std::string& clause, int level,
                                    const dbaccess::Value& key, std::vector<const tTbl_Structure*>& path);

  tDatabase_Structure& owner_;
  /// ResolveParameter's answers, for the columns at resolved_defs_ (resolved_def_count_ of them).
  mutable std::unordered_map<std::string, tParameterColumn> resolved_parameters_;
  mutable const tColumnDef* resolved_defs_ = nullptr;
  mutable std::size_t resolved_def_count_ = 0;
  /// BindPlan's plans, the most recently made last.
  mutable std::vector<std::unique_ptr<tBindPlan>> bind_plans_;
  /// The RowGuids written in a fresh write phase (BeginFreshWrite); null outside one.
  std::unique_ptr<tWrittenKeys> written_guids_;
  std::vector<dbaccess::Parameter> guid_parameter_;  ///< the RowGuid lookup's parameter, unbound
  /// The integer keys written in a fresh write phase; null outside one and once a row was
  /// written without an integer key.
  std::unique_ptr<tWrittenKeys> written_ids_;
  std::vector<dbaccess::Parameter> id_parameter_;  ///< the integer key lookup's parameter, unbound
  /// Where NoteWritten last found the RowGuid and the integer key among a statement's parameters.
  std::size_t bound_guid_at_ = 0;
  std::size_t bound_id_at_ = 0;
  std::unique_ptr<dbaccess::Statement> insert_;
  std::unique_ptr<dbaccess::Statement> update_;
  std::unique_ptr<tRowLookup> guid_lookup_;
  std::unique_ptr<tRowLookup> int_key_lookup_;
  std::vector<std::unique_ptr<tRowLookup>> key_lookups_;
  /// Per key lookup: its statement is the RowGuid lookup's, so the RowGuid lookup's rows answer it.
  std::vector<bool> key_is_guid_lookup_;
  /// The ":KEY_" parameters of a key whose columns all hold integers; empty for another key.
  struct tIntegerKey {
    std::vector<dbaccess::Parameter> Parameters;
    std::vector<std::string> Columns;
  };
  /// Per key lookup: its integer key, which the RowGuid lookup's row may answer (KeyOfGuidRow).
  std::vector<tIntegerKey> integer_keys_;
  /// True when the one row `rows` holds has, in every column of `key`, the value the key's
  /// lookup would bind for the current row of `source`: that lookup would find this row and no
  /// other, since the key is unique.
  bool KeyOfGuidRow(dataset::TQVMmemDataSet& rows, dataset::TDataSet& source, const tIntegerKey& key) const;
  bool lookups_built_ = false;
  /// A master-existence check prepared once, and the parameter values it has found a master for.
  struct tMasterCheck {
    std::unique_ptr<dbaccess::Statement> Statement;
    std::unordered_set<std::string> Found;
  };
  std::unordered_map<std::string, tMasterCheck> master_checks_;  ///< by text
  /// A master check by its foreign key (master and key number) and the columns taking part.
  struct tMasterCheckShape {
    int Master = 0;
    int Key = 0;
    std::vector<bool> Columns;
    bool operator<(const tMasterCheckShape& other) const {
      return std::tie(Master, Key, Columns) < std::tie(other.Master, other.Key, other.Columns);
    }
  };
  /// The check of a shape, and the key it was made for.
  struct tShapedMasterCheck {
    tMasterCheck* Check = nullptr;  ///< in master_checks_
    const tTbl_Structure* MasterTable = nullptr;
    std::vector<std::string> PKColumns;
    std::vector<std::string> FKColumns;
  };
  std::map<tMasterCheckShape, tShapedMasterCheck> master_check_shapes_;
  /// Forgets every master found: a write to this table may move or remove a row it is its own
  /// master of.
  void ForgetFoundMasters();
};

/// Writes one line per table in model order ("NAME identity=COL rowguid=COL intkey=COL
/// pk=C1,C2 masters=M1,M2") and then one line per foreign key ("FK NAME DETAIL(C1,C2) ->
/// MASTER(C1,C2)"), for a structure of either form.
void WriteStructureListing(const tDatabase_Structure& structure, std::ostream& out);

}  // namespace tamaril::dbstruct
