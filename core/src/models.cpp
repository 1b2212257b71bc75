#include "models.hpp"

namespace zandrel {

std::string ZandrelError::display() const {
    switch (kind) {
        case ErrorKind::Io: return "io error: " + detail;
        case ErrorKind::Zip: return "zip error: " + detail;
        case ErrorKind::Xml: return "xml error: " + detail;
        case ErrorKind::XmlText: return "xml text decode error: " + detail;
        case ErrorKind::InvalidInput: return "invalid input: " + detail;
    }
    return detail;
}

bool PackageManifest::has_vba() const {
    for (const auto& part : parts)
        if (part.kind == PartKind::Vba) return true;
    return false;
}

}  // namespace zandrel
