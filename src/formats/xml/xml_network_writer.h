#pragma once

#include "formats/xml/xml_writer.h"

class QNL_intArray;
class QNL_mau;
class QNL_network;
class QNL_nodeDefinition;
class QNL_userProperties;
class QNL_xmlExtensionWriter;

// Writes a network in the library's own XML format: network properties, sampler
// parameters, nodes in topological order with their outcomes, parents and tables,
// observation costs, cases and the display and diagnosis block. Whatever holds its default
// value is left out. A network holding a node that the format cannot carry yet is refused
// before any file is touched; otherwise the document replaces the target only when it was
// written completely.
class QNL_xmlNetworkWriter : public QNL_xmlWriter {
public:
    // 0 when the format can carry every node of the network and every text it writes (with
    // the display block, those of the block too) and, with the display block, every
    // submodel has an identifier of its own; otherwise -2, logged.
    static int CheckNetwork(const QNL_network& network, bool withSubmodels);
    // Extension word 0 writes the display and diagnosis block; any other value leaves it
    // out. False when the network was refused or the file could not be written.
    static bool Write(const char* path, QNL_network* network, int extensionWord);

private:
    explicit QNL_xmlNetworkWriter(QNL_network* network) : network(network) {}

    void WriteDocument(const QNL_xmlExtensionWriter* extension);
    void WriteProperties(const QNL_userProperties& properties);
    void WriteNode(int handle);
    // The kind's lists of a gate node (in xml_gate_elements.cpp).
    void WriteGatePayload(int handle, const QNL_nodeDefinition& definition);
    void WriteMauPayload(const QNL_mau& mau);
    void WriteObservationCosts(const QNL_intArray& order);
    // The dynamic part (in xml_dynamic_elements.cpp); -2 for temporal definitions of a type
    // that has no temporal element.
    static int CheckTemporal(const QNL_network& network);
    // -2, logged, when a text of the network part holds a character XML cannot hold.
    static int CheckTexts(const QNL_network& network);
    void WriteDynamic(const QNL_intArray& order);
    void WriteTemporalPayload(int handle, const QNL_nodeDefinition& definition);
    void WriteCases();

    QNL_network* network;
};
