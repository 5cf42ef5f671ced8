// A data file in a temporary directory, with a stand-in for its shared
// table, for the record and sort tests.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "storage/formats/check_header.h"
#include "storage/records/data_file.h"
#include "storage/formats/record_layout.h"
#include "support/field_builders.h"
#include "support/raised_code.h"

namespace tarn {

using test_support::LaidOut;
using test_support::MakeField;
using test_support::RaisedCode;

class DataFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    table_.strict = true;
    char pattern[] = "/tmp/tarn-records-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    table_.directory = dir_ + "/";
    name_ = dir_ + "/QUOTA.DAT";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // A table with NAME string(20), LIMIT integer; optionally encrypted.
  std::unique_ptr<TDataFile> Create(bool encrypted, std::vector<TFieldDefinition> fields = {}) {
    if (fields.empty()) fields = LaidOut({MakeField("NAME", dtString, 20), MakeField("LIMIT", dtInteger)});
    auto file = std::make_unique<TDataFile>();
    file->SetFileName(name_);
    file->SetTableLink(&table_);
    file->CreateDataFile(0, 0, 1, 0, encrypted, "secret", "quota", 512, fields);
    file->WriteHeader(true);
    file->WriteFields();
    return file;
  }
  std::unique_ptr<TDataFile> Open() {
    auto file = std::make_unique<TDataFile>();
    file->SetFileName(name_);
    file->SetTableLink(&table_);
    file->OpenFile();
    return file;
  }
  // Appends a record with a name and a limit and leaves it dirty.
  void Append(TDataFile& file, const char* name, std::int32_t limit) {
    TRecord* record = nullptr;
    ASSERT_TRUE(file.GetRecord(nullptr, file.Header().NextRecordNumber, record));
    record->Initialize(true);
    std::vector<std::uint8_t> bytes(file.GetRecordSize(), 0);
    bytes[9] = 1;
    std::memcpy(&bytes[10], name, std::strlen(name));
    bytes[31] = 1;
    StoreInt32(&bytes[32], limit);
    record->CopyRecordBuffer(bytes.data());
    file.PutRecord(record);
  }
  std::int32_t LimitOf(TDataFile& file, std::int32_t n, bool readAhead = false) {
    TRecord* record = nullptr;
    EXPECT_TRUE(file.GetRecord(nullptr, n, record, {.ReadAhead = readAhead}));
    const std::int32_t limit = LoadInt32(record->GetRecordBufferPtr() + 32);
    file.PutRecord(record);
    return limit;
  }

  std::string dir_;
  std::string name_;
  TStandaloneTableLink table_;
};

}  // namespace tarn
