// What each operation code carries across the driver interface.
#include "host/runtime/driver_interface.h"

namespace nv {

OpInfo GetOpInfo(int32_t op) {
  switch (op) {
    case kOpAdd: return {"ADD", 0, false, false};
    case kOpBof: return {"BOF", 0, false, false};
    case kOpBuildFile: return {"BUILD", 0, false, false};
    case kOpAppend: return {"APPEND", 0, false, false};
    case kOpBuildIndex: return {"BUILD INDEX", 1, true, false};
    case kOpBuildKey: return {"BUILD KEY", 0, true, false};
    case kOpClose: return {"CLOSE", 0, false, false};
    case kOpCommit: return {"COMMIT", 0, false, false};
    case kOpCopy: return {"COPY", 1, false, false};
    case kOpCreate: return {"CREATE", 0, false, false};
    case kOpDelete: return {"DELETE", 0, false, false};
    case kOpDuplicate: return {"DUPLICATE", 0, false, false};
    case kOpEmpty: return {"EMPTY", 0, false, false};
    case kOpEof: return {"EOF", 0, false, false};
    case kOpGetKey: return {"GET KEY", 0, true, false};
    case kOpGetPointer: return {"GET POINTER", 0, false, false};
    case kOpGetOrdinal: return {"GET KEY POINTER", 0, true, false};
    case kOpHold: return {"HOLD", 0, false, false};
    case kOpHoldTimeout: return {"HOLD SECONDS", 0, false, false};
    case kOpLock: return {"LOCK", 0, false, false};
    case kOpLockTimeout: return {"LOCK SECONDS", 0, false, false};
    case kOpLogout: return {"LOGOUT", 0, false, false};
    case kOpName: return {"NAME", 0, false, true};
    case kOpNext: return {"NEXT", 0, false, false};
    case kOpOpen: return {"OPEN", 0, false, false};
    case kOpPack: return {"PACK", 0, false, false};
    case kOpPointer: return {"POINTER", 0, false, false};
    case kOpPointerKey: return {"POINTER KEY", 0, true, false};
    case kOpFlush: return {"FLUSH", 0, false, false};
    case kOpPut: return {"PUT", 0, false, false};
    case kOpPrevious: return {"PREVIOUS", 0, false, false};
    case kOpRecords: return {"RECORDS", 0, false, false};
    case kOpRecordsKey: return {"RECORDS KEY", 0, true, false};
    case 34: return {"OP34", 2, false, false};
    case kOpRelease: return {"RELEASE", 0, false, false};
    case kOpRemove: return {"REMOVE", 0, false, false};
    case kOpRename: return {"RENAME", 1, false, false};
    case kOpRollback: return {"ROLLBACK", 0, false, false};
    case kOpSetFile: return {"SET", 0, false, false};
    case kOpSetFileKey: return {"SET FILE KEY", 0, true, false};
    case kOpSetFilePointer: return {"SET FILE POINTER", 0, false, false};
    case kOpSetKey: return {"SET KEY", 0, true, false};
    case kOpSetKeyKey: return {"SET KEY KEY", 0, true, false};
    case kOpSetKeyPointer: return {"SET KEY POINTER", 0, true, false};
    case kOpSetKeyKeyPointer: return {"SET KEY KEY POINTER", 0, true, false};
    case kOpShare: return {"SHARE", 0, false, false};
    case kOpSkip: return {"SKIP", 0, false, false};
    case kOpUnlock: return {"UNLOCK", 0, false, false};
    case kOpBytes: return {"BYTES", 0, false, false};
    case kOpPutPointer: return {"PUT POINTER", 0, false, false};
    case kOpStream: return {"STREAM", 0, false, false};
    case kOpDuplicateKey: return {"DUPLICATE KEY", 0, true, false};
    case kOpWatch: return {"WATCH", 0, false, false};
    case kOpSend: return {"SEND", 1, false, true};
    case kOpPosition: return {"POSITION", 0, false, true};
    case kOpPositionKey: return {"POSITION KEY", 0, true, true};
    case kOpResetFile: return {"RESET", 1, false, false};
    case kOpResetKey: return {"RESET KEY", 1, true, false};
    case kOpNoMemo: return {"NOMEMO", 0, false, false};
    case kOpRegetFile: return {"REGET", 1, false, false};
    case kOpRegetKey: return {"REGET KEY", 1, true, false};
    case kOpSetProperty: return {"SET PROPERTY", 2, false, false};
    case kOpGetProperty: return {"GET PROPERTY", 1, false, true};
    case kOpCurrentKey: return {"CURRENT KEY", 0, false, false};
    case kOpViewEntry: return {"VIEW", 0, false, false};
    case 78: return {"OP78", 2, false, false};
    case 79: return {"OP79", 1, false, true};
    case kOpClear: return {"CLEAR", 0, false, false};
    case kOpRunDeferred: return {"DEFERRED BUILD", 0, false, false};
    case kOpSetKeyProperty: return {"SET KEY PROPERTY", 2, true, false};
    case kOpGetKeyProperty: return {"GET KEY PROPERTY", 1, true, true};
    case 88: return {"OP88", 1, false, false};
    case 89: return {"OP89", 1, false, false};
    case 90: return {"OP90", 1, false, false};
    case kOpEntryPoint: return {"ENTRY", 0, false, false};
    case kOpAccepted92: return {"OP92", 0, false, false};
    case kOpAccepted93: return {"OP93", 0, false, false};
    case kOpRecordsGreater: return {"RECORDS GREATER", 0, false, false};
    case 96: return {"OP96", 0, false, true};
    case 97: return {"OP97", 1, false, false};
    case kOpSaveState: return {"SAVESTATE", 0, false, false};
    case kOpRestoreState: return {"RESTORESTATE", 0, false, false};
    case kOpFreeState: return {"FREESTATE", 0, false, false};
    case kOpFinalClose: return {"FINAL CLOSE", 0, false, false};
    default: return {"UNKNOWN", 0, false, false};
  }
}

}  // namespace nv
