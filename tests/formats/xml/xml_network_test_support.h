#pragma once

#include "formats/xml/xml_reader.h"
#include "model/error_handler.h"
#include "model/network.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace xml_test {

inline std::string TempPath(const std::string& name) {
    return ::testing::TempDir() + "quarn_xml_format_" + std::to_string(::getpid()) + "_" + name;
}

inline std::string FileContent(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

inline std::string WriteText(const std::string& name, const std::string& content) {
    std::string path = TempPath(name);
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

inline std::vector<std::string> LoggedMessages(int code) {
    QNL_errorHandler& log = QNL_errorHandler::Instance();
    std::vector<std::string> messages;
    for (int i = 0; i < log.GetNumberOfErrors(); ++i)
        if (log.GetCode(i) == code) messages.push_back(log.GetMessage(i));
    return messages;
}

inline std::string AllMessages() {
    QNL_errorHandler& log = QNL_errorHandler::Instance();
    std::string all;
    for (int i = 0; i < log.GetNumberOfErrors(); ++i)
        all += std::to_string(log.GetCode(i)) + " " + log.GetMessage(i) + "\n";
    return all;
}

// True when expat finds the file well formed: every element is accepted and skipped.
inline bool IsWellFormed(const std::string& path) {
    class AnyReader : public QNL_xmlReader {
    public:
        bool Read(const std::string& file) {
            QNL_xmlElementHandler* root =
                CreateElement(nullptr, "quarn", QNL_xmlElementHandler::LENIENT);
            return ReadFile(file.c_str(), root, nullptr);
        }
    } reader;
    return reader.Read(path);
}

// Reads the document into a fresh network through the network's file entry point.
inline int ReadDocument(QNL_network& network, const std::string& name, const std::string& xml) {
    QNL_errorHandler::Instance().Flush();
    return network.ReadFile(WriteText(name, xml).c_str());
}

// A document around the given node elements (and optional further parts of "quarn").
inline std::string Document(const std::string& nodes, const std::string& rest = "") {
    return "<?xml version=\"1.0\"?>\n<quarn version=\"1.0\" id=\"Net\">\n<nodes>\n" + nodes +
           "</nodes>\n" + rest + "</quarn>\n";
}

} // namespace xml_test
