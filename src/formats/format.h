#pragma once

#include "formats/text_parser.h"

// Format objects. Every format class derives from QNL_textParser, which is the common
// interface the network drives (Read, Write, AllowsDuplicateIds, SkipsCycleCheck, SetFlags);
// the XML format derives from it too, as an adapter without a scanner. The network knows no
// concrete format: it asks the registry below for the object of a format code.

// Format codes; 0 asks for the code of the file name's extension.
enum QNL_fileFormat {
    QNL_FORMAT_FROM_EXTENSION = 0,
    QNL_FORMAT_ERGO = 1,   // "erg"
    QNL_FORMAT_NETICA = 2, // "dne"
    QNL_FORMAT_MSBN = 3,   // "dsc"
    QNL_FORMAT_TEXT = 4,   // "qnl", the library's own keyword text format
    QNL_FORMAT_HUGIN = 5,  // "net"
    QNL_FORMAT_XMLBIF = 6, // "xml03"
    QNL_FORMAT_KI = 7,     // "dxp", read only
    QNL_FORMAT_XML = 8,    // "xqnl" or "qqnl", the library's own XML format
};

// The format code of the text after the last '.' of the name, letter case ignored; -2 for a
// null name, a name without '.' or an extension outside the table. Logs nothing.
int FileFormatFromExtension(const char* fileName);

namespace quarn::detail {

// Format classes register a creator under their code; the built-in ones are entered when
// the library loads (format_factory.cpp). A creator returns a new object bound to the
// network, owned by the caller; it may throw std::bad_alloc.
using FormatCreator = QNL_textParser* (*)(QNL_network* network);

// Enters the creator under the code (a null creator removes the entry) and returns the one
// it replaces, or null.
FormatCreator RegisterFormat(int code, FormatCreator creator);
FormatCreator FindFormat(int code);

} // namespace quarn::detail
