#pragma once

#include "formats/text_parser.h"

// The format object of the library's own XML format (files ".xqnl" and ".qqnl"). It adapts
// the XML network reader and writer to the format interface and uses no scanner. Its flag
// word selects the display and diagnosis extension: 0, the default, reads and writes it;
// any other value leaves it out.
class QNL_xmlFormat : public QNL_textParser {
public:
    explicit QNL_xmlFormat(QNL_network* network) : QNL_textParser(network) {}

    // 0, or -103 when the file could not be read (the reasons are logged).
    int Read(const char* path) override;
    // 0; -2 for a network the format cannot carry (no file is touched); -103 when the file
    // could not be written.
    int Write(const char* path) override;
    bool AllowsDuplicateIds() override { return true; }
    bool SkipsCycleCheck() override { return true; }
    void SetFlags(int value) override { flags = value; }
    int GetFlags() const { return flags; }

private:
    int flags = 0;
};
