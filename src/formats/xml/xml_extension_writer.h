#pragma once

class QNL_network;
class QNL_xmlWriter;
class QNL_screenInfo;
class QNL_header;

// Writes the display and diagnosis block of the XML network format ("tavlo"): the submodel
// tree with its boxes, windows and text boxes, every node's box and its diagnosis texts,
// the network's name, comment and fault name format. Values left at their defaults are not
// written; texts are escaped so that they read back unchanged.
class QNL_xmlExtensionWriter {
public:
    explicit QNL_xmlExtensionWriter(const QNL_network* network) : network(network) {}

    // Writes the extension element of the network, or nothing when all is default.
    void Write(QNL_xmlWriter& writer) const;
    // -2, logged, when a text the element would carry holds a character XML cannot hold.
    static int CheckTexts(const QNL_network& network);

private:
    void WriteSubmodelContents(QNL_xmlWriter& writer, int submodel) const;
    void WriteDisplay(QNL_xmlWriter& writer, const QNL_header& header,
                      const QNL_screenInfo& screen) const;
    void WriteDiagnosis(QNL_xmlWriter& writer, int node) const;

    const QNL_network* network;
};
