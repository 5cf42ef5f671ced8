// Creating tables through a cursor: every limit and error of creation as one
// table of cases (each also checks that no file was left behind), the key
// sizes creation computes, a created table that opens and walks, a table
// without primary index in physical order, an existing table that stays
// untouched, and in-memory and temporary tables.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>

#include "cursor/tables/tables_fixture.h"
#include "storage/formats/object_names.h"
#include "support/raised_code.h"

namespace tarn::cursor_testing {
namespace {

using test_support::MakeField;
using test_support::RaisedCode;

TFieldDefinition Numbered(TFieldDefinition field, std::uint16_t number) {
  field.FieldNumber = number;
  return field;
}

TIndexDefinition IndexOn(std::string_view name, std::initializer_list<std::uint16_t> fields, bool unique) {
  TIndexDefinition def = MakeEmptyIndexDefinition();
  def.Name.Assign(name);
  def.Unique = unique ? 1 : 0;
  std::size_t k = 0;
  for (std::uint16_t n : fields) def.KeyFields[k++] = n;
  return def;
}

// Three string fields of 250, 250 and last bytes, with a unique primary index
// over all three: its key is 252 + 252 + (last + 2) bytes.
void WideKeyTable(TCreateArguments& a, std::uint8_t last) {
  a.Fields = {Numbered(MakeField("A", dtString, 250), 1), Numbered(MakeField("B", dtString, 250), 2),
              Numbered(MakeField("C", dtString, last), 3)};
  a.Indexes = {IndexOn("", {1, 2, 3}, true)};
}

struct TCreateCase {
  const char* Name;
  std::function<void(TCreateArguments&, TDataCursor&)> Change;
  TarnErrorCode Expected;  // 0: created
};

std::ostream& operator<<(std::ostream& out, const TCreateCase& c) { return out << c.Name; }

const TCreateCase kCreateCases[] = {
    {"Valid", [](TCreateArguments&, TDataCursor&) {}, 0},
    // Exclusive use is checked before anything else, read-only and a bad
    // password included.
    {"NotExclusiveBeforeAnything",
     [](TCreateArguments& a, TDataCursor& c) {
       c.SetExclusive(false);
       c.SetReadOnly(true);
       a.Encrypted = true;
     },
     TARN_NEEDEXCLACCESS},
    {"ReadOnly", [](TCreateArguments&, TDataCursor& c) { c.SetReadOnly(true); }, TARN_OSEACCES},
    {"Password15",
     [](TCreateArguments& a, TDataCursor&) {
       a.Encrypted = true;
       a.Password = "  " + std::string(15, 'p') + " ";
     },
     0},
    {"Password16",
     [](TCreateArguments& a, TDataCursor&) {
       a.Encrypted = true;
       a.Password = std::string(16, 'p');
     },
     TARN_INVALIDPASSWORD},
    {"PasswordEmpty",
     [](TCreateArguments& a, TDataCursor&) {
       a.Encrypted = true;
       a.Password = "   ";
     },
     TARN_INVALIDPASSWORD},
    {"EnglishLocale", [](TCreateArguments& a, TDataCursor&) { a.LanguageID = 0x0409; }, 0},
    {"UnknownLocale", [](TCreateArguments& a, TDataCursor&) { a.LanguageID = 0x7777; }, TARN_CANNOTLOADLDDRV},
    {"UnknownSort",
     [](TCreateArguments& a, TDataCursor&) {
       a.LanguageID = 0x0409;
       a.SortID = 9;
     },
     TARN_CANNOTLOADLDDRV},
    {"Fields1025",
     [](TCreateArguments& a, TDataCursor&) {
       a.Fields.clear();
       for (std::uint16_t n = 1; n <= 1025; ++n)
         a.Fields.push_back(Numbered(MakeField("F" + std::to_string(n), dtInteger), n));
       a.Indexes = {IndexOn("", {1}, true)};
     },
     TARN_FLDLIMIT},
    {"SecondaryIndexes31",
     [](TCreateArguments& a, TDataCursor&) {
       for (int i = a.Indexes.size(); i <= 31; ++i)
         a.Indexes.push_back(IndexOn("X" + std::to_string(i), {kAmountField}, false));
     },
     TARN_INDEXLIMIT},
    {"SecondaryIndexes30",
     [](TCreateArguments& a, TDataCursor&) {
       for (int i = a.Indexes.size(); i <= 30; ++i)
         a.Indexes.push_back(IndexOn("X" + std::to_string(i), {kAmountField}, false));
     },
     0},
    {"FieldNameNotALetter", [](TCreateArguments& a, TDataCursor&) { a.Fields[2].Name.Assign("3D"); },
     TARN_INVALIDFIELDNAME},
    {"FieldNameTwice", [](TCreateArguments& a, TDataCursor&) { a.Fields[3].Name.Assign("name"); },
     TARN_INVALIDFIELDNAME},
    {"FieldNumberTwice", [](TCreateArguments& a, TDataCursor&) { a.Fields[3].FieldNumber = 2; },
     TARN_INVALIDFLDTYPE},
    {"StringOf251", [](TCreateArguments& a, TDataCursor&) { a.Fields[1].Size = 251; }, TARN_INVALIDFLDTYPE},
    {"DefaultNotANumber", [](TCreateArguments& a, TDataCursor&) { a.Fields[2].DefaultValue.Assign("lots"); },
     TARN_INVALIDVCHKSTRUCT},
    {"IndexWithoutName", [](TCreateArguments& a, TDataCursor&) { a.Indexes[2].Name.Assign("   "); },
     TARN_INDEXNAMEREQUIRED},
    {"IndexNameNotALetter", [](TCreateArguments& a, TDataCursor&) { a.Indexes[2].Name.Assign("2nd"); },
     TARN_INVALIDINDEXNAME},
    {"IndexNameTwice", [](TCreateArguments& a, TDataCursor&) { a.Indexes[3].Name.Assign(" byname "); },
     TARN_INDEXEXISTS},
    {"KeyFieldsWithAGap",
     [](TCreateArguments& a, TDataCursor&) { a.Indexes.push_back(IndexOn("Gap", {1, 0, 3}, false)); },
     TARN_INVALIDIDXDESC},
    {"KeyFieldsWithoutGap",
     [](TCreateArguments& a, TDataCursor&) { a.Indexes.push_back(IndexOn("NoGap", {1, 3}, false)); }, 0},
    {"UnknownKeyField",
     [](TCreateArguments& a, TDataCursor&) { a.Indexes.push_back(IndexOn("Nowhere", {9}, false)); },
     TARN_INVALIDIDXDESC},
    {"BlobKeyField",
     [](TCreateArguments& a, TDataCursor&) {
       a.Fields.push_back(Numbered(MakeField("NOTES", dtBlob, 0, dstMemo), 5));
       a.Indexes.push_back(IndexOn("ByNotes", {5}, false));
     },
     TARN_SEARCHCOLREQD},
    {"TextIndexOnStringAndMemo",
     [](TCreateArguments& a, TDataCursor&) {
       a.Fields.push_back(Numbered(MakeField("NOTES", dtBlob, 0, dstMemo), 5));
       a.HasTextIndex = true;
       a.TextIndex = IndexOn("", {kNameField, 5}, false);
     },
     0},
    {"TextIndexOnInteger",
     [](TCreateArguments& a, TDataCursor&) {
       a.HasTextIndex = true;
       a.TextIndex = IndexOn("", {kNameField, kAmountField}, false);
     },
     TARN_SEARCHCOLREQD},
    {"TextIndexWithAGap",
     [](TCreateArguments& a, TDataCursor&) {
       a.HasTextIndex = true;
       a.TextIndex = IndexOn("", {kNameField, 0, kCityField}, false);
     },
     TARN_INVALIDIDXDESC},
    {"Key522", [](TCreateArguments& a, TDataCursor&) { WideKeyTable(a, 16); }, 0},
    {"Key523", [](TCreateArguments& a, TDataCursor&) { WideKeyTable(a, 17); }, TARN_INVALIDKEY},
    // 518 bytes of key fields and the record ID of a non-unique index: 522.
    {"NonUniqueKey522",
     [](TCreateArguments& a, TDataCursor&) {
       WideKeyTable(a, 12);
       a.Indexes.push_back(IndexOn("Wide", {1, 2, 3}, false));
     },
     0},
    {"NonUniqueKey523",
     [](TCreateArguments& a, TDataCursor&) {
       WideKeyTable(a, 13);
       a.Indexes.push_back(IndexOn("Wide", {1, 2, 3}, false));
     },
     TARN_INVALIDKEY},
    {"BlobBlock63", [](TCreateArguments& a, TDataCursor&) { a.BlobBlockSize = 63; }, TARN_BLOBLIMIT},
    {"BlobBlock64WithBlob",
     [](TCreateArguments& a, TDataCursor&) {
       a.BlobBlockSize = 64;
       a.Fields.push_back(Numbered(MakeField("NOTES", dtBlob, 0, dstMemo), 5));
     },
     0},
    {"BlobFields128",
     [](TCreateArguments& a, TDataCursor&) {
       for (std::uint16_t n = 5; n < 5 + 128; ++n)
         a.Fields.push_back(Numbered(MakeField("B" + std::to_string(n), dtBlob, 0, dstMemo), n));
     },
     0},
    {"BlobFields129",
     [](TCreateArguments& a, TDataCursor&) {
       for (std::uint16_t n = 5; n < 5 + 129; ++n)
         a.Fields.push_back(Numbered(MakeField("B" + std::to_string(n), dtBlob, 0, dstMemo), n));
     },
     TARN_BLOBLIMIT},
    // 9 + 260 x 252 bytes fit; one more string does not.
    {"Record65529",
     [](TCreateArguments& a, TDataCursor&) {
       a.Fields.clear();
       for (std::uint16_t n = 1; n <= 260; ++n)
         a.Fields.push_back(Numbered(MakeField("S" + std::to_string(n), dtString, 250), n));
       a.Indexes = {IndexOn("", {1}, true)};
     },
     0},
    {"RecordTooBig",
     [](TCreateArguments& a, TDataCursor&) {
       a.Fields.clear();
       for (std::uint16_t n = 1; n <= 261; ++n)
         a.Fields.push_back(Numbered(MakeField("S" + std::to_string(n), dtString, 250), n));
       a.Indexes = {IndexOn("", {1}, true)};
     },
     TARN_RECTOOBIG},
};

class CreateTableCaseTest : public ::testing::TestWithParam<TCreateCase> {};

TEST_P(CreateTableCaseTest, CreatesOrRefusesWithoutLeavingFiles) {
  const TCreateCase& c = GetParam();
  TempDirectory dir;
  SessionOn s(dir.Path());
  TCreateArguments arguments = PeopleArguments();
  auto cursor = ClosedCursor(*s.directory, "newt");
  c.Change(arguments, *cursor);
  const TarnErrorCode raised = RaisedCode([&] { cursor->CreateTable(arguments); });
  EXPECT_EQ(raised, c.Expected);
  EXPECT_FALSE(cursor->IsOpen());
  if (c.Expected != 0) {
    EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string>{});
    return;
  }
  // A created table opens (its password known) and its structure is sound.
  if (arguments.Encrypted) s.session.AddPassword(std::string(TrimName(arguments.Password)));
  cursor->SetReadOnly(false);
  cursor->SetExclusive(false);
  cursor->OpenCursor();
  EXPECT_EQ(cursor->GetActualRecordCount(), 0);
  EXPECT_EQ(cursor->GetIndexCount(), arguments.Indexes.size() - 1);
  std::string findings;
  for (const std::string& f : CheckTableStructure(*cursor->Table())) findings += f + "\n";
  EXPECT_EQ(findings, "");
  TIndexDefinition text;
  cursor->Table()->IndexFile().GetIndexDefinition(kTextIndex, text);
  EXPECT_EQ(text.KeyFieldCount, arguments.HasTextIndex ? 2 : 0);
  EXPECT_EQ(text.KeySize, kTextIndexKeySize);
}

INSTANTIATE_TEST_SUITE_P(Limits, CreateTableCaseTest, ::testing::ValuesIn(kCreateCases),
                         [](const auto& info) { return std::string(info.param.Name); });

class CreateTableTest : public ::testing::Test {
 protected:
  // The table files, without the rollback journal the flushes keep.
  std::vector<std::string> TableFiles() const {
    std::vector<std::string> names = FilesIn(dir_.Path());
    std::erase_if(names, [](const std::string& n) { return n.ends_with(".JNL"); });
    return names;
  }
  TempDirectory dir_;
  CursorSession session_{dir_.Path()};
  TDataDirectory& directory() { return *session_.session.directory; }
};

TEST_F(CreateTableTest, KeySizesCountNullFlagsAndTheRecordIdOfNonUniqueIndexes) {
  auto cursor = ClosedCursor(directory(), "people");
  TCreateArguments arguments = PeopleArguments();
  cursor->CreateTable(arguments);
  cursor->OpenCursor();
  TIndexDefinition def;
  cursor->Table()->IndexFile().GetIndexDefinition(0, def);
  EXPECT_EQ(def.KeySize, 5);  // ID: 4 + 1, unique
  cursor->Table()->IndexFile().GetIndexDefinition(kByAmount, def);
  EXPECT_EQ(def.KeySize, 9);  // AMOUNT: 4 + 1, + 4 record ID
  EXPECT_EQ(def.KeyFieldCount, 1);
  cursor->Table()->IndexFile().GetIndexDefinition(kByName, def);
  EXPECT_EQ(def.KeySize, 21 + 1 + 4);
  EXPECT_EQ(def.Name.Str(), "ByName");
}

TEST_F(CreateTableTest, ACreatedTableTakesRecordsAndWalksInIndexOrder) {
  auto cursor = ClosedCursor(directory(), "people");
  cursor->CreateTable(PeopleArguments());
  FillPeople(dir_.Path(), "people", {{3, "c", 30, "x"}, {1, "a", 20, "y"}, {2, "b", 10, "z"}});
  EXPECT_EQ(IdsByIndex(dir_.Path(), "people", ""), (std::vector<std::int32_t>{1, 2, 3}));
  EXPECT_EQ(IdsByIndex(dir_.Path(), "people", "ByAmount"), (std::vector<std::int32_t>{2, 1, 3}));
  EXPECT_EQ(StructureFindings(dir_.Path(), "people"), "");
}

TEST_F(CreateTableTest, ATableWithoutPrimaryIndexOpensInPhysicalOrder) {
  TCreateArguments arguments = PeopleArguments();
  arguments.Indexes = {MakeEmptyIndexDefinition()};
  ClosedCursor(directory(), "loose")->CreateTable(arguments);
  FillPeople(dir_.Path(), "loose", {{3, "c", 30, "x"}, {1, "a", 20, "y"}, {2, "b", 10, "z"}});
  auto cursor = session_.Cursor("loose");
  EXPECT_TRUE(cursor->GetIsPhysicalNavigation());
  EXPECT_EQ(WalkIds(*cursor), (std::vector<std::int32_t>{3, 1, 2}));
}

TEST_F(CreateTableTest, AnExistingTableStaysUntouchedUnlessOverwritten) {
  ClosedCursor(directory(), "people")->CreateTable(PeopleArguments());
  FillPeople(dir_.Path(), "people", {{1, "a", 1, "x"}, {2, "b", 2, "y"}});
  const auto contents = [&] {
    std::string all;
    for (const std::string& name : FilesIn(dir_.Path())) {
      std::ifstream in(dir_.Path() + name, std::ios::binary);
      all += name + ":" + std::string(std::istreambuf_iterator<char>(in), {}) + "|";
    }
    return all;
  };
  const std::string before = contents();
  TCreateArguments other = PeopleArguments();
  other.Fields.push_back(Numbered(MakeField("NOTES", dtBlob, 0, dstMemo), 5));
  auto cursor = ClosedCursor(directory(), "people");
  EXPECT_EQ(RaisedCode([&] { cursor->CreateTable(other); }), TARN_TABLEEXISTS);
  EXPECT_EQ(contents(), before);

  // Open elsewhere, it cannot be replaced either.
  {
    auto reader = session_.Cursor("people");
    other.Overwrite = true;
    EXPECT_EQ(RaisedCode([&] { cursor->CreateTable(other); }), TARN_OSEACCES);
  }
  EXPECT_EQ(contents(), before);

  // Replaced, it is the new, empty table with its BLOB file.
  cursor->CreateTable(other);
  EXPECT_EQ(TableFiles(), (std::vector<std::string>{"people.BLB", "people.DAT", "people.IDX"}));
  EXPECT_EQ(IdsByIndex(dir_.Path(), "people", ""), std::vector<std::int32_t>{});
  // And replaced by a table without BLOB fields, the old BLOB file goes.
  TCreateArguments plain = PeopleArguments();
  plain.Overwrite = true;
  cursor->CreateTable(plain);
  EXPECT_EQ(TableFiles(), (std::vector<std::string>{"people.DAT", "people.IDX"}));
}

TEST_F(CreateTableTest, AnOpenCursorCreatesNothing) {
  ClosedCursor(directory(), "people")->CreateTable(PeopleArguments());
  TCreateArguments overwrite = PeopleArguments();
  overwrite.Overwrite = true;
  auto shared = session_.Cursor("people");
  EXPECT_EQ(RaisedCode([&] { shared->CreateTable(overwrite); }), TARN_NEEDEXCLACCESS);
  shared->CloseCursor();
  auto exclusive = ExclusiveCursor(directory(), "people");
  EXPECT_EQ(RaisedCode([&] { exclusive->CreateTable(overwrite); }), TARN_TABLEOPEN);
  EXPECT_TRUE(exclusive->IsOpen());
}

TEST_F(CreateTableTest, InMemoryTablesAreMadeInMemory) {
  auto cursor = ClosedCursor(directory(), "held");
  cursor->SetInMemory(true);
  cursor->CreateTable(PeopleArguments());
  EXPECT_EQ(FilesIn(dir_.Path()), std::vector<std::string>{});
  EXPECT_TRUE(directory().DataTableExists("held", true));
  EXPECT_EQ(RaisedCode([&] { cursor->CreateTable(PeopleArguments()); }), TARN_TABLEEXISTS);
  cursor->SetExclusive(false);
  cursor->OpenCursor();
  EXPECT_EQ(cursor->GetIndexCount(), 4);
  cursor->CloseCursor();
  cursor->DeleteTable();
  EXPECT_FALSE(directory().DataTableExists("held", true));
}

TEST_F(CreateTableTest, ATemporaryTableGoesAtItsLastClose) {
  auto cursor = ClosedCursor(directory(), "scratch");
  cursor->SetIsTemporary(true);
  cursor->CreateTable(PeopleArguments());
  EXPECT_TRUE(directory().DataTableExists("scratch", false));
  cursor->OpenCursor();
  cursor->CloseCursor(TCursorClose::DiscardTemporary);
  EXPECT_FALSE(directory().DataTableExists("scratch", false));
}

}  // namespace
}  // namespace tarn::cursor_testing
