#pragma once

#include "formats/text_parser.h"

#include <vector>

class QNL_network;

// The Ergo format (".erg"): a node count, the states of every node, every node's parents by
// position in the file (from 1), then sections of numbers and words headed "/* name */":
// "Probabilities" (a full table, or noisy-MAX parameters given as cumulative columns),
// "Names", "Labels" and "Centers". Nodes are read as noisy-MAX nodes until a full table makes
// them probability tables; the states of a noisy-MAX node are listed from its last one. Only
// networks of probability and truth tables are written.
class QNL_ergoFormat : public QNL_textParser {
public:
    static constexpr int SCANNER_MODE = 2;

    explicit QNL_ergoFormat(QNL_network* network) : QNL_textParser(network) {}

    int Read(const char* path) override;
    int Write(const char* path) override;

private:
    int ReadFrame();
    int ReadCount(int* out);
    int ReadSections();
    int ReadProbabilities();
    int ReadNoisyParameters(int node);
    int ReadNoisyColumn(int k, double* column);
    bool NextIsWord();
    int ReadNames();
    int ReadLabels();
    int ReadCenters();
    void ReverseFullTableParents();
    int WriteFile();

    // The nodes in file order; -1 where a node could not be created.
    std::vector<int> nodes;
};
