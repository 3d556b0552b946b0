#pragma once

#include "learning/engine_node.h"

#include <string>
#include <vector>

class QNL_learnNetwork;

// Where the learning engine's network takes its data from. Read hands the columns to the
// network's nodes (replacing them): 0, or -1 with a message.
class QNL_learnDataSource {
public:
    explicit QNL_learnDataSource(QNL_learnNetwork& owner) : network(&owner) {}
    virtual ~QNL_learnDataSource() = default;
    virtual int Read(int flag) = 0;

protected:
    QNL_learnNetwork* network;
};

// The engine's own delimited data file and its preprocess side file, which records what a
// scan of the data found in every column (name, type, missing values, states, range), so a
// later read can load the records without scanning them first. File names and switches come
// from the network's options when the object is made; the loaded columns are kept, so Read
// with bit 0 set hands them to the nodes again without touching the file.
class QNL_learnDataFile : public QNL_learnDataSource {
public:
    struct Column {
        std::string name;
        bool discrete = true;
        bool ordered = false;
        bool missing = false;
        std::vector<std::string> states;
        double low = 0.0;
        double high = 0.0;
    };

    explicit QNL_learnDataFile(QNL_learnNetwork& owner);
    int Read(int flag) override;

    const std::string& GetDataFileName() const { return dataFileName; }
    const std::string& GetPreprocessFileName() const { return preprocessFileName; }
    const std::vector<Column>& GetColumns() const { return columns; }
    int GetNumberOfRecords() const { return records; }
    // Set when the column information came from a preprocess file the construction read.
    bool UsedPreprocessFile() const { return fromPreprocessFile; }

    // The preprocess file of the present column information; 0, or -1 when it cannot be
    // written or could not be read back as written.
    int WritePreprocessFile(const std::string& path) const;
    // Column information, data file name and switches from a preprocess file, which the next
    // Read loads the records through; 0, or -1 with the object as it was.
    int ReadPreprocessFile(const std::string& path);

    // A token is a number only when all of it reads as one: an optional sign, digits with at
    // most one point, then an optional exponent ("e", "E", "d" or "D", a sign, digits).
    static bool ParseNumber(const char* begin, const char* end, double& value);

private:
    int Load();
    int Scan(const std::string& text);
    // -1 with the reason in `problem`, which is not logged.
    int LoadRecords(const std::string& text, std::string& problem);
    int HandToNodes();
    bool SideFileCanCarry() const;

    std::string dataFileName;
    std::string preprocessFileName;
    std::string missingSign;
    std::string commentCharacter;
    std::string comments;
    bool namesPresent = true;
    bool typesSpecified = false;
    bool usePreprocessFile = false;
    bool disablePreprocessFile = false;
    bool fromPreprocessFile = false;
    bool loaded = false;
    int maxDiscreteStates = 8;
    int records = 0;
    std::vector<Column> columns;
    std::vector<QNL_dataColumn<int>> discreteData;
    std::vector<QNL_dataColumn<double>> continuousData;
};
