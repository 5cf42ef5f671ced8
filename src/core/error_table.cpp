// The engine's error code table.
#include "core/error_table.h"

#include <algorithm>
#include <initializer_list>

namespace tarn {
namespace {

constexpr TErrorEntry MakeEntry(TarnErrorCode code, const char* name, const char* text, std::initializer_list<int> slots) {
  TErrorEntry e{code, name, text, {-1, -1, -1}, 0};
  for (int s : slots) e.slots[e.slotCount++] = static_cast<std::int8_t>(s);
  return e;
}

const TErrorEntry kErrorTable[] = {
    MakeEntry(TARN_NONE, "TARN_NONE", "An unknown error occurred", {}),
    MakeEntry(TARN_BOF, "TARN_BOF", "Beginning of table '%s' unexpectedly encountered", {esTable}),
    MakeEntry(TARN_EOF, "TARN_EOF", "End of table '%s' unexpectedly encountered", {esTable}),
    MakeEntry(TARN_KEYORRECDELETED, "TARN_KEYORRECDELETED", "Record has been changed or deleted by another user, session, or table cursor in the table '%s'", {esTable}),
    MakeEntry(TARN_NOCURRREC, "TARN_NOCURRREC", "No current record in the table '%s'", {esTable}),
    MakeEntry(TARN_RECNOTFOUND, "TARN_RECNOTFOUND", "Record not found in the table '%s'", {esTable}),
    MakeEntry(TARN_ENDOFBLOB, "TARN_ENDOFBLOB", "End of blob data in the table '%s' reached prematurely", {esTable}),
    MakeEntry(TARN_HEADERCORRUPT, "TARN_HEADERCORRUPT", "Header information corrupt in the table '%s'", {esTable}),
    MakeEntry(TARN_FILECORRUPT, "TARN_FILECORRUPT", "Data record buffers corrupt in the table '%s'", {esTable}),
    MakeEntry(TARN_MEMOCORRUPT, "TARN_MEMOCORRUPT", "BLOB block buffers corrupt in the table '%s'", {esTable}),
    MakeEntry(TARN_INDEXCORRUPT, "TARN_INDEXCORRUPT", "Index page buffers corrupt in the table '%s'", {esTable}),
    MakeEntry(TARN_READERR, "TARN_READERR", "Error reading from the table '%s'", {esTable}),
    MakeEntry(TARN_WRITEERR, "TARN_WRITEERR", "Error writing to the table '%s'", {esTable}),
    MakeEntry(TARN_FILEDELETEFAIL, "TARN_FILEDELETEFAIL", "Cannot delete the table '%s'", {esTable}),
    MakeEntry(TARN_FILENOACCESS, "TARN_FILENOACCESS", "Error accessing header information for the table '%s'", {esTable}),
    MakeEntry(TARN_RECTOOBIG, "TARN_RECTOOBIG", "Maximum record size exceeded in the table '%s'", {esTable}),
    MakeEntry(TARN_TABLEFULL, "TARN_TABLEFULL", "The table '%s' is full and cannot contain any more data", {esTable}),
    MakeEntry(TARN_INTERNALLIMIT, "TARN_INTERNALLIMIT", "Too many filters defined for the table '%s'", {esTable}),
    MakeEntry(TARN_INDEXLIMIT, "TARN_INDEXLIMIT", "Maximum or minimum limits on number of indexes or fields in an index exceeded in the table '%s'", {esTable}),
    MakeEntry(TARN_FLDLIMIT, "TARN_FLDLIMIT", "Maximum or minimum limits on number of fields, auto-increment field value, or field size exceeded in the table '%s'", {esTable}),
    MakeEntry(TARN_OPENBLOBLIMIT, "TARN_OPENBLOBLIMIT", "Too many blobs opened in the table '%s'", {esTable}),
    MakeEntry(TARN_BLOBLIMIT, "TARN_BLOBLIMIT", "Too many blob fields or invalid blob block size specified for the table '%s'", {esTable}),
    MakeEntry(TARN_KEYVIOL, "TARN_KEYVIOL", "Duplicate key found in the index '%s' of the table '%s'", {esIndex, esTable}),
    MakeEntry(TARN_MINVALERR, "TARN_MINVALERR", "The value for the field '%s' in the table '%s' is below the minimum allowable value", {esField, esTable}),
    MakeEntry(TARN_MAXVALERR, "TARN_MAXVALERR", "The value for the field '%s' in the table '%s' is above the maximum allowable value", {esField, esTable}),
    MakeEntry(TARN_REQDERR, "TARN_REQDERR", "A value must be provided for the field '%s' in the table '%s'", {esField, esTable}),
    MakeEntry(TARN_OUTOFRANGE, "TARN_OUTOFRANGE", "Invalid field number or name '%s' specified for the table '%s'", {esField, esTable}),
    MakeEntry(TARN_PRIMARYKEYREDEFINE, "TARN_PRIMARYKEYREDEFINE", "A primary index is already defined for the table '%s' and cannot be added again", {esTable}),
    MakeEntry(TARN_INVALIDBLOBOFFSET, "TARN_INVALIDBLOBOFFSET", "Invalid blob offset into the table '%s' specified", {esTable}),
    MakeEntry(TARN_INVALIDFLDTYPE, "TARN_INVALIDFLDTYPE", "Invalid field definition specified for the field '%s' in the table '%s'", {esField, esTable}),
    MakeEntry(TARN_INVALIDVCHKSTRUCT, "TARN_INVALIDVCHKSTRUCT", "Invalid default, min or max validity check, or expression specified for the field '%s' in the table '%s'", {esField, esTable}),
    MakeEntry(TARN_INDEXNAMEREQUIRED, "TARN_INDEXNAMEREQUIRED", "The secondary index name is missing or not specified for the table '%s'", {esTable}),
    MakeEntry(TARN_INVALIDPASSWORD, "TARN_INVALIDPASSWORD", "Password provided for the table '%s' is invalid", {esTable}),
    MakeEntry(TARN_INVALIDINDEXNAME, "TARN_INVALIDINDEXNAME", "Invalid secondary index name '%s' specified for the table '%s'", {esIndex, esTable}),
    MakeEntry(TARN_INVALIDIDXDESC, "TARN_INVALIDIDXDESC", "Invalid field number '%s' specified in the index '%s' for the table '%s'", {esField, esIndex, esTable}),
    MakeEntry(TARN_INVALIDKEY, "TARN_INVALIDKEY", "Invalid key size specified in the index '%s' for the table '%s'", {esIndex, esTable}),
    MakeEntry(TARN_INDEXEXISTS, "TARN_INDEXEXISTS", "The secondary index '%s' already exists for the table '%s'", {esIndex, esTable}),
    MakeEntry(TARN_INVALIDBLOBLEN, "TARN_INVALIDBLOBLEN", "Invalid blob length in the table '%s'", {esTable}),
    MakeEntry(TARN_INVALIDBLOBHANDLE, "TARN_INVALIDBLOBHANDLE", "Invalid blob handle for the table '%s' specified", {esTable}),
    MakeEntry(TARN_TABLEOPEN, "TARN_TABLEOPEN", "The table '%s' is already in use", {esTable}),
    MakeEntry(TARN_INVALIDFIELDNAME, "TARN_INVALIDFIELDNAME", "Invalid or duplicate field name '%s' specified for the table '%s'", {esField, esTable}),
    MakeEntry(TARN_NOSUCHFILTER, "TARN_NOSUCHFILTER", "Invalid filter handle specified for the table '%s'", {esTable}),
    MakeEntry(TARN_INVALIDFILTER, "TARN_INVALIDFILTER", "Filter error for the table '%s' - %s", {esTable, esText}),
    MakeEntry(TARN_INVALIDINDEXDELETE, "TARN_INVALIDINDEXDELETE", "The primary index cannot be removed from the table '%s'", {esTable}),
    MakeEntry(TARN_LOCKED, "TARN_LOCKED", "The table '%s' is already locked by another user", {esTable}),
    MakeEntry(TARN_UNLOCKFAILED, "TARN_UNLOCKFAILED", "Cannot unlock table or record in the table '%s'", {esTable}),
    MakeEntry(TARN_LOCKTIMEOUT, "TARN_LOCKTIMEOUT", "General lock failure with the table '%s'", {esTable}),
    MakeEntry(TARN_NEEDEXCLACCESS, "TARN_NEEDEXCLACCESS", "The table '%s' must be opened exclusively", {esTable}),
    MakeEntry(TARN_RECLOCKFAILED, "TARN_RECLOCKFAILED", "Record in the table '%s' is in use by another user", {esTable}),
    MakeEntry(TARN_NOTSUFFTABLERIGHTS, "TARN_NOTSUFFTABLERIGHTS", "Insufficient rights to the table '%s', a password is required", {esTable}),
    MakeEntry(TARN_NOTABLOB, "TARN_NOTABLOB", "Invalid blob field '%s' specified for the table '%s'", {esField, esTable}),
    MakeEntry(TARN_NOTINITIALIZED, "TARN_NOTINITIALIZED", "The database engine is not initialized", {}),
    MakeEntry(TARN_OSENOENT, "TARN_OSENOENT", "Table '%s' does not exist", {esTable}),
    MakeEntry(TARN_OSEMFILE, "TARN_OSEMFILE", "Too many operating system files open while attempting to open the table '%s'", {esTable}),
    MakeEntry(TARN_OSEACCES, "TARN_OSEACCES", "Access denied to table '%s'", {esTable}),
    MakeEntry(TARN_OSEBADF, "TARN_OSEBADF", "Invalid operating system file handle for the table '%s'", {esTable}),
    MakeEntry(TARN_OSENOMEM, "TARN_OSENOMEM", "There is insufficient operating system memory available for the current operation", {}),
    MakeEntry(TARN_OSEINVMEM, "TARN_OSEINVMEM", "Invalid length for the in-memory table '%s'", {esTable}),
    MakeEntry(TARN_OSENODEV, "TARN_OSENODEV", "Access denied to logical operating system device for the table '%s'", {esTable}),
    MakeEntry(TARN_OSENOTSAM, "TARN_OSENOTSAM", "The table '%s' has been moved", {esTable}),
    MakeEntry(TARN_OSUNKNOWN, "TARN_OSUNKNOWN", "An unknown operating system error occurred with the table '%s'", {esTable}),
    MakeEntry(TARN_REMOTECOMMLOST, "TARN_REMOTECOMMLOST", "The connection to the database server at '%s' has been lost", {esRemote}),
    MakeEntry(TARN_REMOTEUNKNOWN, "TARN_REMOTEUNKNOWN", "An unknown error ('%s') occurred with the connection to the database server at '%s', please check the server log", {esText, esRemote}),
    MakeEntry(TARN_REMOTECONNECT, "TARN_REMOTECONNECT", "A connection to the database server at '%s' cannot be established", {esRemote}),
    MakeEntry(TARN_REMOTENOLOGIN, "TARN_REMOTENOLOGIN", "A connection to the database server at '%s' cannot be established, the server is not accepting new logins", {esRemote}),
    MakeEntry(TARN_REMOTEMAXCONNECT, "TARN_REMOTEMAXCONNECT", "A connection to the database server at '%s' cannot be established, the maximum number of connections has been reached", {esRemote}),
    MakeEntry(TARN_REMOTEADDRESSBLOCK, "TARN_REMOTEADDRESSBLOCK", "A connection to the database server at '%s' cannot be established, the client address is blocked", {esRemote}),
    MakeEntry(TARN_REMOTECALLBACK, "TARN_REMOTECALLBACK", nullptr, {}),
    MakeEntry(TARN_REMOTECALLBACKERR, "TARN_REMOTECALLBACKERR", "A server callback error occurred for the database server at '%s'", {esRemote}),
    MakeEntry(TARN_REMOTEVERSION, "TARN_REMOTEVERSION", "A call to the database server at '%s' failed, the client engine version does not match the server", {esRemote}),
    MakeEntry(TARN_REMOTEINVLOGIN, "TARN_REMOTEINVLOGIN", "A connection to the database server at '%s' cannot be established, the login information provided is invalid", {esRemote}),
    MakeEntry(TARN_REMOTENOTAUTH, "TARN_REMOTENOTAUTH", "The user '%s' is not authorized to perform this operation with the database '%s' on the database server at '%s'", {esUser, esDatabase, esRemote}),
    MakeEntry(TARN_REMOTENOTADMIN, "TARN_REMOTENOTADMIN", "The user '%s' is not authorized to perform administration functions on the database server at '%s'", {esUser, esRemote}),
    MakeEntry(TARN_REMOTEINVUSER, "TARN_REMOTEINVUSER", "The user name is either invalid or blank", {}),
    MakeEntry(TARN_REMOTENOUSER, "TARN_REMOTENOUSER", "The user '%s' does not exist on the database server at '%s'", {esUser, esRemote}),
    MakeEntry(TARN_REMOTEDUPUSER, "TARN_REMOTEDUPUSER", "The user '%s' already exists on the database server at '%s'", {esUser, esRemote}),
    MakeEntry(TARN_REMOTEINVDB, "TARN_REMOTEINVDB", "The database name or directory is either invalid or blank", {}),
    MakeEntry(TARN_REMOTENODB, "TARN_REMOTENODB", "The database '%s' does not exist on the database server at '%s'", {esDatabase, esRemote}),
    MakeEntry(TARN_REMOTEDUPDB, "TARN_REMOTEDUPDB", "The database '%s' already exists on the database server at '%s'", {esDatabase, esRemote}),
    MakeEntry(TARN_REMOTEINVDBUSER, "TARN_REMOTEINVDBUSER", "The database user name is either invalid or blank", {}),
    MakeEntry(TARN_REMOTENODBUSER, "TARN_REMOTENODBUSER", "The database user '%s' does not exist for the database '%s' on the database server at '%s'", {esUser, esDatabase, esRemote}),
    MakeEntry(TARN_REMOTEDUPDBUSER, "TARN_REMOTEDUPDBUSER", "The database user '%s' already exists for the database '%s' on the database server at '%s'", {esUser, esDatabase, esRemote}),
    MakeEntry(TARN_REMOTEINVREQUEST, "TARN_REMOTEINVREQUEST", "An invalid or unknown request was made to the database server at '%s'", {esRemote}),
    MakeEntry(TARN_IMPORTERROR, "TARN_IMPORTERROR", "An error occurred during the import into the table '%s' - %s", {esTable, esText}),
    MakeEntry(TARN_EXPORTERROR, "TARN_EXPORTERROR", "An error occurred during the export from the table '%s' - %s", {esTable, esText}),
    MakeEntry(TARN_SQLPARSE, "TARN_SQLPARSE", "SQL error - %s", {esText}),
    MakeEntry(TARN_OLDVERSION, "TARN_OLDVERSION", "The table '%s' is not the correct version", {esTable}),
    MakeEntry(TARN_SEARCHCOLREQD, "TARN_SEARCHCOLREQD", "Invalid field '%s' specified for the index '%s' in the table '%s'", {esField, esIndex, esTable}),
    MakeEntry(TARN_TABLEEXISTS, "TARN_TABLEEXISTS", "The table '%s' already exists", {esTable}),
    MakeEntry(TARN_COMPRESS, "TARN_COMPRESS", "Error compressing data", {}),
    MakeEntry(TARN_UNCOMPRESS, "TARN_UNCOMPRESS", "Error uncompressing data", {}),
    MakeEntry(TARN_CANNOTLOADLDDRV, "TARN_CANNOTLOADLDDRV", "The language driver for the table '%s' is not available or installed", {esTable}),
};

}  // namespace

std::span<const TErrorEntry> ErrorTable() noexcept { return kErrorTable; }

const TErrorEntry* FindErrorEntry(TarnErrorCode code) noexcept {
  const auto* end = std::end(kErrorTable);
  const auto* it = std::lower_bound(std::begin(kErrorTable), end, code,
                                    [](const TErrorEntry& e, TarnErrorCode c) { return e.code < c; });
  return (it != end && it->code == code) ? it : nullptr;
}

}  // namespace tarn
