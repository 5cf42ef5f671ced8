// Engine error codes, the engine exception ETarnEngineError, and the per-thread
// error-information record that RaiseError fills and the exception copies.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/exception.h"

namespace tarn {

using TarnErrorCode = std::uint16_t;

// Every engine error code. The high byte groups them (0x22 record position,
// 0x23 corruption, 0x24 input/output, 0x25 limits, 0x26 integrity, 0x27 invalid
// requests, 0x28 locking, 0x29 rights, 0x2A BLOBs and engine state, 0x2B
// operating system, 0x2C remote server/import/export, 0x2E SQL, 0x2F version,
// 0x30 index fields, 0x33 table existence, 0x3A compression, 0x3E languages).
inline constexpr TarnErrorCode TARN_NONE = 0;  // 0x0000
inline constexpr TarnErrorCode TARN_BOF = 8705;  // 0x2201
inline constexpr TarnErrorCode TARN_EOF = 8706;  // 0x2202
inline constexpr TarnErrorCode TARN_KEYORRECDELETED = 8708;  // 0x2204
inline constexpr TarnErrorCode TARN_NOCURRREC = 8709;  // 0x2205
inline constexpr TarnErrorCode TARN_RECNOTFOUND = 8710;  // 0x2206
inline constexpr TarnErrorCode TARN_ENDOFBLOB = 8711;  // 0x2207
inline constexpr TarnErrorCode TARN_HEADERCORRUPT = 8961;  // 0x2301
inline constexpr TarnErrorCode TARN_FILECORRUPT = 8962;  // 0x2302
inline constexpr TarnErrorCode TARN_MEMOCORRUPT = 8963;  // 0x2303
inline constexpr TarnErrorCode TARN_INDEXCORRUPT = 8965;  // 0x2305
inline constexpr TarnErrorCode TARN_READERR = 9217;  // 0x2401
inline constexpr TarnErrorCode TARN_WRITEERR = 9218;  // 0x2402
inline constexpr TarnErrorCode TARN_FILEDELETEFAIL = 9220;  // 0x2404
inline constexpr TarnErrorCode TARN_FILENOACCESS = 9221;  // 0x2405
inline constexpr TarnErrorCode TARN_RECTOOBIG = 9477;  // 0x2505
inline constexpr TarnErrorCode TARN_TABLEFULL = 9479;  // 0x2507
inline constexpr TarnErrorCode TARN_INTERNALLIMIT = 9482;  // 0x250A
inline constexpr TarnErrorCode TARN_INDEXLIMIT = 9487;  // 0x250F
inline constexpr TarnErrorCode TARN_FLDLIMIT = 9492;  // 0x2514
inline constexpr TarnErrorCode TARN_OPENBLOBLIMIT = 9494;  // 0x2516
inline constexpr TarnErrorCode TARN_BLOBLIMIT = 9498;  // 0x251A
inline constexpr TarnErrorCode TARN_KEYVIOL = 9729;  // 0x2601
inline constexpr TarnErrorCode TARN_MINVALERR = 9730;  // 0x2602
inline constexpr TarnErrorCode TARN_MAXVALERR = 9731;  // 0x2603
inline constexpr TarnErrorCode TARN_REQDERR = 9732;  // 0x2604
inline constexpr TarnErrorCode TARN_OUTOFRANGE = 9985;  // 0x2701
inline constexpr TarnErrorCode TARN_PRIMARYKEYREDEFINE = 9993;  // 0x2709
inline constexpr TarnErrorCode TARN_INVALIDBLOBOFFSET = 9998;  // 0x270E
inline constexpr TarnErrorCode TARN_INVALIDFLDTYPE = 10000;  // 0x2710
inline constexpr TarnErrorCode TARN_INVALIDVCHKSTRUCT = 10006;  // 0x2716
inline constexpr TarnErrorCode TARN_INDEXNAMEREQUIRED = 10010;  // 0x271A
inline constexpr TarnErrorCode TARN_INVALIDPASSWORD = 10015;  // 0x271F
inline constexpr TarnErrorCode TARN_INVALIDINDEXNAME = 10022;  // 0x2726
inline constexpr TarnErrorCode TARN_INVALIDIDXDESC = 10023;  // 0x2727
inline constexpr TarnErrorCode TARN_INVALIDKEY = 10026;  // 0x272A
inline constexpr TarnErrorCode TARN_INDEXEXISTS = 10027;  // 0x272B
inline constexpr TarnErrorCode TARN_INVALIDBLOBLEN = 10029;  // 0x272D
inline constexpr TarnErrorCode TARN_INVALIDBLOBHANDLE = 10030;  // 0x272E
inline constexpr TarnErrorCode TARN_TABLEOPEN = 10031;  // 0x272F
inline constexpr TarnErrorCode TARN_INVALIDFIELDNAME = 10038;  // 0x2736
inline constexpr TarnErrorCode TARN_NOSUCHFILTER = 10050;  // 0x2742
inline constexpr TarnErrorCode TARN_INVALIDFILTER = 10051;  // 0x2743
inline constexpr TarnErrorCode TARN_INVALIDINDEXDELETE = 10055;  // 0x2747
inline constexpr TarnErrorCode TARN_LOCKED = 10241;  // 0x2801
inline constexpr TarnErrorCode TARN_UNLOCKFAILED = 10242;  // 0x2802
inline constexpr TarnErrorCode TARN_LOCKTIMEOUT = 10249;  // 0x2809
inline constexpr TarnErrorCode TARN_NEEDEXCLACCESS = 10253;  // 0x280D
inline constexpr TarnErrorCode TARN_RECLOCKFAILED = 10258;  // 0x2812
inline constexpr TarnErrorCode TARN_NOTSUFFTABLERIGHTS = 10498;  // 0x2902
inline constexpr TarnErrorCode TARN_NOTABLOB = 10753;  // 0x2A01
inline constexpr TarnErrorCode TARN_NOTINITIALIZED = 10758;  // 0x2A06
inline constexpr TarnErrorCode TARN_OSENOENT = 11010;  // 0x2B02
inline constexpr TarnErrorCode TARN_OSEMFILE = 11012;  // 0x2B04
inline constexpr TarnErrorCode TARN_OSEACCES = 11013;  // 0x2B05
inline constexpr TarnErrorCode TARN_OSEBADF = 11014;  // 0x2B06
inline constexpr TarnErrorCode TARN_OSENOMEM = 11016;  // 0x2B08
inline constexpr TarnErrorCode TARN_OSEINVMEM = 11017;  // 0x2B09
inline constexpr TarnErrorCode TARN_OSENODEV = 11023;  // 0x2B0F
inline constexpr TarnErrorCode TARN_OSENOTSAM = 11025;  // 0x2B11
inline constexpr TarnErrorCode TARN_OSUNKNOWN = 11047;  // 0x2B27
inline constexpr TarnErrorCode TARN_REMOTECOMMLOST = 11276;  // 0x2C0C
inline constexpr TarnErrorCode TARN_REMOTEUNKNOWN = 11279;  // 0x2C0F
inline constexpr TarnErrorCode TARN_REMOTECONNECT = 11280;  // 0x2C10
inline constexpr TarnErrorCode TARN_REMOTENOLOGIN = 11281;  // 0x2C11
inline constexpr TarnErrorCode TARN_REMOTEMAXCONNECT = 11282;  // 0x2C12
inline constexpr TarnErrorCode TARN_REMOTEADDRESSBLOCK = 11283;  // 0x2C13
inline constexpr TarnErrorCode TARN_REMOTECALLBACK = 11284;  // 0x2C14
inline constexpr TarnErrorCode TARN_REMOTECALLBACKERR = 11285;  // 0x2C15
inline constexpr TarnErrorCode TARN_REMOTEVERSION = 11286;  // 0x2C16
inline constexpr TarnErrorCode TARN_REMOTEINVLOGIN = 11287;  // 0x2C17
inline constexpr TarnErrorCode TARN_REMOTENOTAUTH = 11288;  // 0x2C18
inline constexpr TarnErrorCode TARN_REMOTENOTADMIN = 11289;  // 0x2C19
inline constexpr TarnErrorCode TARN_REMOTEINVUSER = 11290;  // 0x2C1A
inline constexpr TarnErrorCode TARN_REMOTENOUSER = 11291;  // 0x2C1B
inline constexpr TarnErrorCode TARN_REMOTEDUPUSER = 11292;  // 0x2C1C
inline constexpr TarnErrorCode TARN_REMOTEINVDB = 11293;  // 0x2C1D
inline constexpr TarnErrorCode TARN_REMOTENODB = 11294;  // 0x2C1E
inline constexpr TarnErrorCode TARN_REMOTEDUPDB = 11295;  // 0x2C1F
inline constexpr TarnErrorCode TARN_REMOTEINVDBUSER = 11296;  // 0x2C20
inline constexpr TarnErrorCode TARN_REMOTENODBUSER = 11297;  // 0x2C21
inline constexpr TarnErrorCode TARN_REMOTEDUPDBUSER = 11298;  // 0x2C22
inline constexpr TarnErrorCode TARN_REMOTEINVREQUEST = 11299;  // 0x2C23
inline constexpr TarnErrorCode TARN_IMPORTERROR = 11300;  // 0x2C24
inline constexpr TarnErrorCode TARN_EXPORTERROR = 11301;  // 0x2C25
inline constexpr TarnErrorCode TARN_SQLPARSE = 11949;  // 0x2EAD
inline constexpr TarnErrorCode TARN_OLDVERSION = 12035;  // 0x2F03
inline constexpr TarnErrorCode TARN_SEARCHCOLREQD = 12292;  // 0x3004
inline constexpr TarnErrorCode TARN_TABLEEXISTS = 13060;  // 0x3304
inline constexpr TarnErrorCode TARN_COMPRESS = 15001;  // 0x3A99
inline constexpr TarnErrorCode TARN_UNCOMPRESS = 15002;  // 0x3A9A
inline constexpr TarnErrorCode TARN_CANNOTLOADLDDRV = 15878;  // 0x3E06

// Context slots of the error-information record, in the order RaiseError takes them.
enum TErrorSlot : int {
  esRemote = 0,    // database server host name or address
  esUser = 1,      // user name
  esDatabase = 2,  // database name, or the data directory of a local table
  esTable = 3,     // table name
  esField = 4,     // field name or number
  esIndex = 5,     // index name
  esText = 6,      // free text
  esOSCode = 7,    // operating-system error code (decimal text)
  esSocketCode = 8 // socket error code (decimal text)
};

// Database-error exception of the component layer.
class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EDatabaseError"; }
};

// The engine exception. Its message is "Tarn Engine Error # <code> <filled template>";
// it carries its own copy of the code and every context value.
class ETarnEngineError : public EDatabaseError {
 public:
  // Builds the exception from the calling thread's error-information record.
  explicit ETarnEngineError(TarnErrorCode code);

  const char* ClassName() const noexcept override { return "ETarnEngineError"; }

  TarnErrorCode ErrorCode() const noexcept { return errorCode_; }
  std::int32_t ErrorOSCode() const noexcept { return errorOSCode_; }
  std::int32_t ErrorSocketCode() const noexcept { return errorSocketCode_; }
  const std::string& ErrorRemoteLocation() const noexcept { return errorRemoteLocation_; }
  const std::string& ErrorUserName() const noexcept { return errorUserName_; }
  const std::string& ErrorDatabaseName() const noexcept { return errorDatabaseName_; }
  const std::string& ErrorTableName() const noexcept { return errorTableName_; }
  const std::string& ErrorFieldName() const noexcept { return errorFieldName_; }
  const std::string& ErrorIndexName() const noexcept { return errorIndexName_; }
  const std::string& ErrorText() const noexcept { return errorText_; }

 private:
  TarnErrorCode errorCode_ = 0;
  std::int32_t errorOSCode_ = 0;
  std::int32_t errorSocketCode_ = 0;
  std::string errorRemoteLocation_;
  std::string errorUserName_;
  std::string errorDatabaseName_;
  std::string errorTableName_;
  std::string errorFieldName_;
  std::string errorIndexName_;
  std::string errorText_;
};

// Clears the record, stores the code, the current OS and socket error codes
// and the seven context texts (each cut to 255 bytes), and raises
// ETarnEngineError(code).
[[noreturn]] void RaiseError(TarnErrorCode code, std::string_view remoteLocation = {}, std::string_view userName = {},
                             std::string_view databaseName = {}, std::string_view tableName = {},
                             std::string_view fieldName = {}, std::string_view indexName = {},
                             std::string_view extraText = {});

// Raises ETarnEngineError(code) with whatever context the record holds.
[[noreturn]] void DbiError(TarnErrorCode code);

// Raises through DbiError when the code is not 0; answers 0 otherwise.
TarnErrorCode Check(TarnErrorCode code);

// Stores all ten values of the record (texts cut to 255 bytes).
void AssignErrorContexts(TarnErrorCode code, std::int32_t osCode, std::int32_t socketCode,
                         std::string_view remoteLocation, std::string_view userName, std::string_view databaseName,
                         std::string_view tableName, std::string_view fieldName, std::string_view indexName,
                         std::string_view extraText);

// Code and numbers 0, every text empty.
void ClearErrorContexts();

// Slots 0-6: the context texts; 7: OS error code; 8: socket error code (decimal);
// any other slot: empty.
std::string GetErrorContext(int slot);

// Code of the last raised error on this thread.
TarnErrorCode GetLastErrorNumber();

// The code's template filled from the record, cut to 254 bytes;
// "An unknown error occurred" for a code without a template.
std::string GetErrorString(TarnErrorCode code);

// Constant name of a code ("TARN_KEYVIOL"), empty for an unknown code.
std::string TranslateErrorConstant(TarnErrorCode code);

// The error-information lock (recursive). The record itself is per thread,
// so the lock only serialises callers that want several reads as one step.
void LockErrorInformation();
void UnlockErrorInformation();

// The last socket error of this thread, recorded by the network code and read
// by RaiseError (Linux reports socket errors through errno as well).
void SetLastSocketError(std::int32_t code) noexcept;
std::int32_t GetLastSocketError() noexcept;

}  // namespace tarn
