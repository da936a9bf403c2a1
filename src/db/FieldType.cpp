#include "db/FieldType.h"

namespace db {

const char* FieldTypeName(TFieldType type) {
  switch (type) {
    case TFieldType::ftUnknown: return "ftUnknown";
    case TFieldType::ftString: return "ftString";
    case TFieldType::ftSmallint: return "ftSmallint";
    case TFieldType::ftInteger: return "ftInteger";
    case TFieldType::ftWord: return "ftWord";
    case TFieldType::ftBoolean: return "ftBoolean";
    case TFieldType::ftFloat: return "ftFloat";
    case TFieldType::ftCurrency: return "ftCurrency";
    case TFieldType::ftBCD: return "ftBCD";
    case TFieldType::ftDate: return "ftDate";
    case TFieldType::ftTime: return "ftTime";
    case TFieldType::ftDateTime: return "ftDateTime";
    case TFieldType::ftBytes: return "ftBytes";
    case TFieldType::ftVarBytes: return "ftVarBytes";
    case TFieldType::ftAutoInc: return "ftAutoInc";
    case TFieldType::ftBlob: return "ftBlob";
    case TFieldType::ftMemo: return "ftMemo";
    case TFieldType::ftFixedChar: return "ftFixedChar";
    case TFieldType::ftWideString: return "ftWideString";
    case TFieldType::ftLargeint: return "ftLargeint";
    case TFieldType::ftGuid: return "ftGuid";
    case TFieldType::ftTimeStamp: return "ftTimeStamp";
    case TFieldType::ftFMTBcd: return "ftFMTBcd";
    case TFieldType::ftFixedWideChar: return "ftFixedWideChar";
    case TFieldType::ftWideMemo: return "ftWideMemo";
    case TFieldType::ftSingle: return "ftSingle";
  }
  return "ftUnknown";
}

bool IsBinaryField(TFieldType type) {
  return type == TFieldType::ftBytes || type == TFieldType::ftVarBytes || type == TFieldType::ftBlob;
}

}  // namespace db
