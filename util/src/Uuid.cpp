#include <kelnou/Uuid.hpp>

#include <uuid/uuid.h>

namespace kelnou {

std::string generate_str_uuid() {
    uuid_t uuid;
    uuid_generate(uuid);
    char text[37];  // 36 characters and the terminator
    uuid_unparse(uuid, text);
    return text;
}

}  // namespace kelnou
