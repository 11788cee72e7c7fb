#include "model.h"

namespace prndecode {

const char* dialect_name(Dialect dialect) {
  switch (dialect) {
    case Dialect::PlatformC: return "PLATFORM_C";
    case Dialect::PlatformZ: return "PLATFORM_Z";
    case Dialect::PlatformM: return "PLATFORM_M";
    default: return "unknown";
  }
}

Item& Item::num(const std::string& key, uint64_t value) {
  fields.push_back(Field{key, Field::Kind::Decimal, value, {}});
  return *this;
}

Item& Item::hex(const std::string& key, uint64_t value) {
  fields.push_back(Field{key, Field::Kind::Hex, value, {}});
  return *this;
}

Item& Item::str(const std::string& key, const std::string& value) {
  fields.push_back(Field{key, Field::Kind::Text, 0, value});
  return *this;
}

}  // namespace prndecode
