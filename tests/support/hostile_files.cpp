#include "support/hostile_files.h"

namespace hostile {
namespace {

const char* const kHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                          "<quarn version=\"1.0\" id=\"Hostile\">\n<nodes>\n";

std::string NodeA(const std::string& id) {
    return "<cpt id=\"" + id +
           "\">\n<state id=\"s\" />\n<state id=\"t\" />\n"
           "<probabilities>0.5 0.5</probabilities>\n</cpt>\n";
}

// The display data every submodel and node element must carry.
const char* const kDisplay = "<interior color=\"e5f6f7\" />\n<outline color=\"0000bb\" />\n"
                             "<font color=\"000000\" name=\"MS Sans Serif\" size=\"8\" />\n"
                             "<position>-38 -18 38 18</position>\n";

} // namespace

std::string LongIdentifierXml(std::size_t length) {
    return kHead + NodeA(std::string(length, 'a')) + "</nodes>\n</quarn>\n";
}

std::string NestedSubmodelsXml(int depth) {
    std::string text = kHead + NodeA("A") + "</nodes>\n<extensions>\n" +
                       "<tavlo version=\"1.0\" name=\"Hostile\" faultnameformat=\"user\">\n";
    for (int i = 1; i <= depth; ++i) {
        const std::string id = "Sub" + std::to_string(i);
        text += "<submodel id=\"" + id + "\">\n<name>" + id + "</name>\n" + kDisplay +
                "<window>0 0 0 0</window>\n";
    }
    text += std::string("<node id=\"A\">\n<name>A</name>\n") + kDisplay + "</node>\n";
    for (int i = 0; i < depth; ++i)
        text += "</submodel>\n";
    return text + "</tavlo>\n</extensions>\n</quarn>\n";
}

} // namespace hostile
