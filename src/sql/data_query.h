// TDataQuery: one SELECT of an SQL statement (the master query, a sub-select
// or a UNION part) with what parsing gives it (select list, source tables,
// WHERE, GROUP BY, HAVING, ORDER BY, options) and what preparation and
// execution add (source cursors, joins, the result table). The select-list
// item TResultField, the FROM entry TSourceTable, the join TTableJoin and the
// GROUP BY / ORDER BY items are declared here too: they are the query's parts.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cursor/data_cursor.h"
#include "expressions/exp_token.h"

namespace tarn {

class TQueryStatement;
class TDataQuery;
class TSourceTable;

// Statement kind codes: what the first keywords of a statement choose.
enum TStatementKind : std::uint8_t {
  skNone = 0,
  skSelect = 1,
  skInsert = 2,
  skUpdate = 3,
  skDelete = 4,
  skCreateTable = 5,
  skAlterTable = 6,
  skDropTable = 7,
  skCreateIndex = 8,
  skDropIndex = 9,
};

enum TResultCalculation : std::uint8_t { rcNone, rcSum, rcRunSum, rcMin, rcMax, rcAvg, rcCount };

enum TUnionType : std::uint8_t { utNone, utUnion, utUnionAll };

// Largest number of result, ORDER BY, GROUP BY and DISTINCT columns.
inline constexpr std::size_t kMaxResultColumns = 1024;
// Longest result column name.
inline constexpr std::size_t kMaxColumnNameLength = 30;
// Longest string column of a result (size with its zero byte).
inline constexpr std::int32_t kMaxResultStringSize = 251;
inline constexpr std::int32_t kMaxResultBytesSize = 250;

// One select-list item and, after preparation, its result column.
struct TResultField {
  // --- parsing --------------------------------------------------------------
  std::string TableName;   // of the column the item is based on, when it is one
  std::string ColumnName;
  std::string Alias;
  bool NoAlias = true;
  TResultCalculation Calculation = rcNone;
  bool Computed = false;       // evaluated per row from Expression
  std::string ExpressionText;  // the item as written, line breaks removed
  TExpTokenPtr Expression;     // the whole item (for an aggregate: the function node)

  // --- preparation ------------------------------------------------------------
  std::uint16_t Number = 0;  // 1-based result column
  std::string Name;
  std::uint8_t DataType = 0;
  std::uint8_t SubType = 0;
  std::int32_t Size = 0;
  std::uint8_t Decimals = 0;
  // A plain column or a column-based aggregate: the source table and its
  // physical field number.
  TSourceTable* Source = nullptr;
  std::uint16_t SourceField = 0;
  bool CountAll = false;           // COUNT(*): every row counts
  std::uint16_t AvgCountColumn = 0;  // AVG: the hidden column holding its count
};

// A join from an outer table to an inner (joined) table. The outer table
// owns it.
struct TTableJoin {
  TSourceTable* Outer = nullptr;
  TSourceTable* Inner = nullptr;
  TJoinType Type = jtNone;
  TExpTokenPtr Condition;         // none for a default (cross product) join
  TFilterHandle FilterHandle = 0;  // the join filter placed on the inner cursor
};

// One table of FROM or JOIN.
class TSourceTable {
 public:
  // --- parsing --------------------------------------------------------------
  int Position = 0;  // 1-based, in source order
  bool InMemory = false;
  std::string TableName;        // directory and ".DAT" removed
  std::string DatabaseName;     // a directory given with the name; empty: the statement's
  std::string CorrelationName;  // the table name unless one was given
  int JoinOrder = 0;

  // Sets TableName (and DatabaseName from a directory part) from the name as
  // written; the correlation name follows unless one was set.
  void SetTableName(const std::string& name);
  void SetAliasName(const std::string& name);

  // --- preparation and execution ----------------------------------------------------
  TDataDirectory* Directory = nullptr;  // opened through the session; closed with the query
  std::unique_ptr<TDataCursor> Cursor;
  std::vector<std::uint8_t> Record;     // the current row
  bool AtEnd = false;                   // no current row: every column reads NULL
  std::vector<std::unique_ptr<TTableJoin>> Joins;  // joins whose outer table this is
  std::vector<TFilterHandle> Filters;   // WHERE filters placed on the cursor

  TTableJoin& AddJoin(TJoinType type, TExpTokenPtr condition, TSourceTable& inner, TExpOperator parentOperator);
  // Renumbers every table reached from this one through joins with a
  // condition so that each comes after its outer table (inner order at least
  // outer order + 1).
  void BumpJoinOrders();
};

struct TGroupByField {
  std::string TableName;
  std::string ColumnName;
  std::uint16_t ColumnNumber = 0;  // 1-based; 0 when named
  std::uint16_t ResultColumn = 0;  // resolved at preparation
};

struct TOrderByField : TGroupByField {
  bool Descending = false;
};

// The physical field of the cursor's table with that name (without regard to
// case); false when there is none.
bool FindPhysicalField(const TDataCursor& cursor, const std::string& name, TFieldDefinition& def);

class TDataQuery final : public TExpSubQuery {
 public:
  explicit TDataQuery(TQueryStatement& statement);
  ~TDataQuery() override;
  TDataQuery(const TDataQuery&) = delete;
  TDataQuery& operator=(const TDataQuery&) = delete;

  TQueryStatement& Statement() const noexcept { return statement_; }

  // --- parsing (select_parser.cpp) ------------------------------------------------
  // Reads one statement from the statement's parser, whose current token is
  // its first keyword. A sub-select or a UNION part must be a SELECT.
  void ParseQuery(bool subSelect, bool unionPart);
  void ParseSelectQuery();
  // One select-list item into field: its tree, its text as written and what
  // it is (a column, an aggregate of a column, or computed).
  void ParseSelectColumnExpression(TResultField& field);
  // A WHERE (isWhere) or ON condition; sub-selects only in WHERE.
  TExpTokenPtr ParseWhereExpression(bool isWhere);
  TExpTokenPtr ParseHavingExpression();
  // Raises when a source table other than table already has the correlation
  // name (without regard to case).
  void CheckForDuplicateSourceTable(const std::string& name, const TSourceTable& table) const;
  // Marks every node of an ON condition as a join expression and gives each
  // comparison with columns on both sides the join type of its clause.
  void PrepareNextJoinExpression(TJoinType joinType, TExpToken* node);

  // --- preparation and execution (select_preparation.cpp, select_execution.cpp) ------
  void PrepareQuery();
  // Runs the query; for a master SELECT the result cursor is set.
  void ExecuteQuery(TDataCursor*& result);
  TDataCursor* ResultCursor() const noexcept { return resultCursor_; }
  // Drops every filter placed on the source cursors and every join filter and
  // clears the at-end flags.
  void ResetAllSourceFilters();
  void FreeResultTable() noexcept;

  // --- WHERE reduction and joins (where_reduction.cpp, join_planning.cpp) ------------
  // Preparation of a canned result calls, in this order: SetupDefaultTableJoins
  // (each table joined to the next as a cross product), ReduceWhereExpression
  // (join conditions to joins, multi-table functions and predicates to the
  // scan expression), ReduceDefaultTableJoins (cross products a join
  // condition makes needless dropped; the joins form a tree from the table
  // that drives) and SortJoinOrders (the source list in join order, equal
  // orders keeping their list order).
  void SetupDefaultTableJoins();
  void ReduceWhereExpression();
  void ReduceDefaultTableJoins();
  void SortJoinOrders();
  // Between the filter passes: whether a table reached by inner joins may
  // drive instead (not with NOJOINOPTIMIZE), and the change of driving table
  // when one has fewer records (as filtered) than the driving table.
  bool CanOptimizeTableJoins() const;
  void OptimizeTableJoins();
  // Every aggregate of the HAVING tree becomes a column node of the result
  // column holding the same aggregate: FieldNumber is the result column's
  // number, Source is null and TableName empty, so the tree is evaluated with
  // a result record as the row through the result cursor's field callback.
  void ReduceHavingExpression();
  // The source table a column node refers to: by correlation name when the
  // node names one, else the first source table having a column of that name;
  // null when there is none.
  TSourceTable* FindColumnSource(const TExpToken& column) const;
  TSourceTable* FindSourceTable(const std::string& correlationName) const;
  // Whether the columns of the subtree come from more than one source table;
  // the first table met is returned in first (null when there is no column).
  bool ContainsMultipleDataSources(const TExpToken* node, TSourceTable** first = nullptr) const;
  bool ContainsJoins() const;
  bool ContainsOuterJoins() const;
  bool IsTargetOfJoin(const TSourceTable& table) const;
  bool IsTargetOfInnerJoin(const TSourceTable& table) const;
  bool IsTargetOfOuterJoin(const TSourceTable& table) const;
  // The join filter for the current row of the outer table (see
  // BuildNextJoinFilter in join_planning.cpp).
  TExpTokenPtr BuildNextJoinFilter(const TTableJoin& join);

  // UPDATE and DELETE: the table whose rows change. It keeps driving, so join
  // optimisation never picks it or a table its inner joins reach as the new
  // driving table. Null for SELECT.
  TSourceTable* DataChangeTarget = nullptr;

  // Column callbacks of the query's trees. Verification finds the column
  // (FindColumnSource), sets Source to its TSourceTable, FieldNumber to its
  // physical field number and types the node from the field; evaluation
  // reads the value from that table's current row (NULL when the table is
  // at its end). The context is the TDataQuery.
  static bool VerifyExpressionFieldData(void* context, TExpToken& node);
  static void EvaluateExpressionFieldData(void* context, const std::uint8_t* record, TExpToken& node);

  // --- TExpSubQuery ---------------------------------------------------------------
  int SubSelectColumnCount() const override;
  bool TypeSubSelectColumn(TExpToken& node) override;
  bool SubSelectContains(const TExpToken& value) override;

  // --- data-changing statements: INSERT, UPDATE, DELETE (dml_parser.cpp,
  // dml_values.cpp, dml_execution.cpp) ------------------------------------------------
  // Parsing starts at the statement's keyword; preparation and execution
  // are called by PrepareQuery and ExecuteQuery for their kinds.
  void ParseInsertQuery();
  void ParseUpdateQuery();
  void ParseDeleteQuery();
  void PrepareDataChangeQuery();
  void ExecuteDataChangeQuery();

  // One assigned column: the INSERT column list or the left side of a SET item.
  struct TUpdateField {
    TSourceTable* Source = nullptr;  // the table holding the column (set at preparation)
    std::string ColumnName;
    std::uint16_t FieldNumber = 0;  // physical, 1-based
    std::string CorrelationName;
    std::uint8_t DataType = 0;
    std::uint8_t SubType = 0;
    std::int32_t Size = 0;
    std::uint8_t Decimals = 0;
    std::string ColumnText;  // as written, for messages
    TExpTokenPtr Column;     // the parsed column reference
  };
  // One assigned value.
  struct TUpdateValue {
    std::string ValueText;  // as written, line breaks removed
    TExpTokenPtr Expression;
  };

  void ParseInsertColumnExpression(TUpdateField& field);
  void ParseInsertValueExpression(TUpdateValue& value);
  void ParseUpdateColumnExpression(TUpdateField& field);
  void ParseUpdateValueExpression(TUpdateValue& value);
  // Resolves and types the column items (INSERT expands its '*'), then
  // checks that there are as many values as columns.
  void VerifyUpdateFields(bool insert);
  // Verifies the values and checks constants against their columns.
  void VerifyUpdateValues();
  // The INSERT values of a SELECT: one column reference per result column.
  void ProcessSubSelectUpdateValues();

  std::vector<TUpdateField> UpdateFields;
  std::vector<TUpdateValue> UpdateValues;
  bool SubSelectInsert = false;
  TDataQuery* InsertSelect = nullptr;  // the SELECT of INSERT ... SELECT (owned by the statement)
  bool SuppressAutoInc = false;        // NOAUTOINC
  std::int32_t CommitInterval = 0;     // rows between two commits, positive when given
  bool CommitIntervalGiven = false;
  bool CommitFlush = false;  // FLUSH: each commit forces the data to disk
  TSourceTable* TargetTable = nullptr;
  friend class TDataChangeExecution;
  // (end of data-changing statements)

  // --- data-definition statements: CREATE and DROP (ddl_statements.cpp) ------------------
  // Parsing starts at the word after CREATE or DROP (TABLE, INDEX, UNIQUE ...).
  void ParseCreateTableQuery();
  void ParseCreateIndexQuery();
  void ParseDropTableQuery();
  void ParseDropIndexQuery();
  void PrepareDefinitionQuery();
  void ExecuteDefinitionQuery();

  // One column of CREATE TABLE as parsed.
  struct TCreateField {
    std::string Name;
    std::uint8_t DataType = 0;
    std::uint8_t SubType = 0;
    std::uint8_t Size = 0;      // declared length of strings and bytes
    std::uint8_t Decimals = 0;  // declared scale of BCD
    std::string Description;
    bool Required = false;
    std::uint8_t CharCase = 0;  // TFieldCharCase
    std::string MinValue;
    std::string MaxValue;
    std::string DefaultValue;
    std::string ColumnText;  // the column as written
    // The stored definition of the column at 1-based position number.
    TFieldDefinition BuildFieldInfo(std::uint16_t number) const;
  };
  // One index of CREATE TABLE (its PRIMARY KEY clause or TEXT INDEX) or of
  // CREATE INDEX as parsed.
  struct TCreateIndex {
    std::string Name;
    bool Descending = false;
    bool Unique = false;
    bool CaseInsensitive = false;
    std::uint8_t Compression = 0;      // TIndexCompression
    std::vector<std::string> Columns;  // column names in key order
  };
  // The directory and the cursor a definition statement works on; the cursor
  // is closed and the directory given back when the query goes.
  struct TDefinitionTarget {
    TQueryStatement* Statement = nullptr;
    TDataDirectory* Directory = nullptr;
    std::unique_ptr<TDataCursor> Cursor;
    TDefinitionTarget() = default;
    TDefinitionTarget(const TDefinitionTarget&) = delete;
    TDefinitionTarget& operator=(const TDefinitionTarget&) = delete;
    ~TDefinitionTarget();
  };

  // Item readers of the definition grammar. A column with create set needs
  // its data type.
  void ParseCreateColumnExpression(TCreateField& field, bool create);
  void ParseCreateIndexFieldExpression(TCreateIndex& index);
  void ParseCreatePrimaryKey();
  void ParseCreateTableOptions();
  std::int32_t ParseCreateAutoIncExpression();
  std::bitset<256> ParseCreateCharSetExpression();
  void ParseDropIndexExpression();
  void ExecuteCreateTableQuery();
  void ExecuteCreateIndexQuery();
  void ExecuteDropTableQuery();
  void ExecuteDropIndexQuery();

  // What the definition grammar fills (the language, sort, encryption and
  // password are the SELECT fields above).
  std::string DefinitionTableName;  // as written: may carry a directory
  bool DefinitionInMemory = false;  // MEMORY
  bool IfNotExists = false;
  bool IfExists = false;
  std::string DropIndexName;  // DROP INDEX: the index after the table name
  std::vector<TCreateField> CreateFields;
  std::vector<TCreateIndex> CreateIndexes;  // the PRIMARY KEY clause, or the index of CREATE INDEX
  bool HasTextIndex = false;
  TCreateIndex TextIndex;
  bool StopWordsGiven = false;
  std::vector<std::string> StopWords;
  std::bitset<256> SpaceChars;    // empty: the default word separators
  std::bitset<256> IncludeChars;  // empty: the default word characters
  std::string TableDescription;
  std::uint16_t BlobBlockSize = 512;
  std::uint16_t UserMajorVersion = 1;
  std::uint16_t UserMinorVersion = 0;
  std::int32_t LastAutoIncValue = -1;  // LAST AUTOINC: accepted, not used by CREATE TABLE
  TDefinitionTarget DefinitionTarget;
  // (end of data-definition statements)

  // --- what parsing fills ---------------------------------------------------------------
  TStatementKind Kind = skNone;
  bool IsSubSelect = false;
  bool IsUnionPart = false;
  bool RequestLive = true;  // cleared by INTO; the statement's flag applies to the master
  std::int64_t MaxRowCount = -1;
  bool Distinct = false;
  bool HasJoins = false;
  bool HasWhere = false;
  bool HasGroupBy = false;
  bool HasHaving = false;
  bool HasOrderBy = false;
  bool CaseInsensitiveOrder = false;  // NOCASE after ORDER BY
  bool SelectStar = false;
  bool HasComputedColumns = false;
  bool HasAverages = false;
  std::string ResultTableName;        // INTO name
  bool InMemoryResult = false;        // INTO MEMORY
  bool WithLocks = false;
  bool NoJoinOptimize = false;
  std::int64_t Top = -1;
  std::uint16_t LanguageID = 0;
  std::uint16_t SortID = 0;
  bool LanguageGiven = false;
  bool SortGiven = false;
  bool Encrypted = false;
  std::string Password;
  TUnionType UnionType = utNone;
  TDataQuery* UnionPart = nullptr;  // registered with the statement, which owns it
  std::vector<std::unique_ptr<TSourceTable>> SourceTables;
  std::vector<TResultField> ResultFields;
  TExpTokenPtr WhereTree;
  TExpTokenPtr HavingTree;
  std::vector<TGroupByField> GroupBy;
  std::vector<TOrderByField> OrderBy;

  // --- what preparation and execution keep -------------------------------------------
  TExpTokenPtr ScanExpression;      // conditions over several tables, per combined row
  TExpTokenPtr TempScanExpression;  // single-table conditions no filter serves, per row
  bool LiveResult = false;
  bool SingleRowResult = false;
  bool SimpleCount = false;
  bool OrderSatisfied = false;
  bool HasBlobResults = false;
  std::int64_t RowsAffected = 0;
  double ExecutionTime = 0;

  // Adds part to the scan (or temporary scan) expression, joined to what is
  // there by a new node with the operator parentOperator (AND when it is
  // eoNOTDEFINED).
  void AddScanTokens(TExpTokenPtr part, TExpOperator parentOperator);
  void AddTempScanTokens(TExpTokenPtr part, TExpOperator parentOperator);

 private:
  // Preparation steps (select_preparation.cpp).
  void OpenSourceTables();
  void ReleaseDirectory(TDataDirectory*& directory) noexcept;
  void VerifyResultFields();
  void TypeResultField(TResultField& field, const TExpToken* column);
  void NameResultFields();
  bool FindOrderIndex(std::uint8_t& position) const;
  bool CanReturnLiveResult() const;
  void ResolveOrderColumns(std::vector<TOrderByField>& items, std::string_view clause, bool allowBlobs);
  bool ComputeOrderSatisfied() const;
  void MapHavingColumns();
  void PrepareLiveResult();
  void AssignResultTableParams();
  void CreateResultTable();
  // Execution of a live result (select_execution.cpp).
  void ExecuteLiveQuery();
  // Clause readers of ParseSelectQuery (select_parser.cpp).
  void ParseSelectList();
  void ParseIntoClause();
  void ParseFromClause();
  void ParseJoinClauses();
  std::unique_ptr<TSourceTable> ParseSourceTable(std::string_view missingNameMessage);
  // Adds a source table at the end (or first) and numbers Position and
  // JoinOrder in list order.
  void AddSourceTable(std::unique_ptr<TSourceTable> table, bool first);
  void ParseWithLocks();
  void ParseColumnReference(TGroupByField& item, std::string_view missingMessage);

  friend class TQueryStatement;
  friend class TSelectExecution;

  // WHERE reduction of the subtree held by slot (where_reduction.cpp); the
  // slot is emptied when the subtree left the WHERE tree.
  void ReduceNextWhereExpressionToken(TExpTokenPtr& slot, TExpToken* parent);
  // Makes the comparison held by slot a join between the tables of its sides
  // and takes it out of the WHERE tree.
  void MakeJoinCondition(TExpTokenPtr& slot, TExpToken* parent, TSourceTable& leftTable, TSourceTable& rightTable);
  // Join optimisation (join_planning.cpp): reverses the chain of joins from
  // the driving table down to table, which then drives.
  void FlipJoins(TSourceTable& table);
  void FlipJoin(TTableJoin& join);
  TQueryStatement& statement_;
  TDataCursor* resultCursor_ = nullptr;       // the canned result's or the live source's cursor
  std::unique_ptr<TDataCursor> ownedResult_;  // a canned result's cursor
  TDataDirectory* resultDirectory_ = nullptr;
  std::string resultName_;
  bool resultTemporary_ = true;
  // A sub-select's answer, read once per execution for IN.
  std::vector<TExpTokenPtr> subSelectValues_;
  bool subSelectLoaded_ = false;
};

// Swaps the two sides of a comparison and mirrors its operator, so that it
// reads the same (a < b becomes b > a; = and <> stay).
void MirrorComparison(TExpToken& node);

}  // namespace tarn
