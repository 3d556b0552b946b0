// The registry of format classes and the built-in formats, entered when the library loads.
// A code missing here is refused by ReadFile and WriteFile with "Unknown File Format".

#include "formats/ergo_format.h"
#include "formats/format.h"
#include "formats/hugin_format.h"
#include "formats/ki_format.h"
#include "formats/msbn_format.h"
#include "formats/netica_format.h"
#include "formats/qnl_format.h"
#include "formats/xml/xml_format.h"
#include "formats/xmlbif_format.h"

#include <map>

namespace quarn::detail {

namespace {
std::map<int, FormatCreator>& Registry() {
    static std::map<int, FormatCreator> registry;
    return registry;
}
} // namespace

FormatCreator RegisterFormat(int code, FormatCreator creator) {
    std::map<int, FormatCreator>& registry = Registry();
    auto found = registry.find(code);
    FormatCreator previous = found == registry.end() ? nullptr : found->second;
    if (creator == nullptr) {
        if (found != registry.end()) registry.erase(found);
    } else {
        registry[code] = creator;
    }
    return previous;
}

FormatCreator FindFormat(int code) {
    auto found = Registry().find(code);
    return found == Registry().end() ? nullptr : found->second;
}

} // namespace quarn::detail

namespace {

template <typename Format> QNL_textParser* Create(QNL_network* network) {
    return new Format(network);
}

// Each format adds its header above and one line here, in the form
//     quarn::detail::RegisterFormat(QNL_FORMAT_TEXT, Create<QNL_textFormat>);
struct BuiltinFormats {
    BuiltinFormats() {
        quarn::detail::RegisterFormat(QNL_FORMAT_XML, Create<QNL_xmlFormat>);
        quarn::detail::RegisterFormat(QNL_FORMAT_XMLBIF, Create<QNL_xmlbifFormat>);
        quarn::detail::RegisterFormat(QNL_FORMAT_HUGIN, Create<QNL_huginFormat>);
        quarn::detail::RegisterFormat(QNL_FORMAT_MSBN, Create<QNL_msbnFormat>);
        quarn::detail::RegisterFormat(QNL_FORMAT_NETICA, Create<QNL_neticaFormat>);
        quarn::detail::RegisterFormat(QNL_FORMAT_TEXT, Create<QNL_textFormat>);
        quarn::detail::RegisterFormat(QNL_FORMAT_ERGO, Create<QNL_ergoFormat>);
        quarn::detail::RegisterFormat(QNL_FORMAT_KI, Create<QNL_kiFormat>);
    }
};

const BuiltinFormats registerAtLoad;

} // namespace
