// The network's file entry points: the format object for a code or an extension, the
// emptying before a read, and the read and write sequences around the format object.

#include "formats/format.h"
#include "model/case_library.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/submodel.h"
#include "model/temporal_network.h"

#include <exception>
#include <new>
#include <stdexcept>

namespace {

// Puts the notification mask and the reading mode back whatever way a read ends.
class ReadingState {
public:
    explicit ReadingState(QNL_network& network)
        : network(network), mask(network.GetNotificationMask()), mode(network.GetReadingMode()) {}
    ReadingState(const ReadingState&) = delete;
    ReadingState& operator=(const ReadingState&) = delete;
    ~ReadingState() {
        network.SetNotificationMask(mask);
        network.SetReadingMode(mode);
    }

private:
    QNL_network& network;
    int mask;
    int mode;
};

int ExceptionCode(const std::exception& e) {
    if (dynamic_cast<const std::bad_alloc*>(&e) != nullptr ||
        dynamic_cast<const std::length_error*>(&e) != nullptr)
        return QNL_errorHandler::Instance().LogError(-42);
    return QNL_errorHandler::Instance().LogError(-2, e.what());
}

} // namespace

std::unique_ptr<QNL_textParser> QNL_network::CreateFormat(const char* fileName, int& code) {
    if (code == QNL_FORMAT_FROM_EXTENSION) code = FileFormatFromExtension(fileName);
    quarn::detail::FormatCreator create = nullptr;
    if (code >= QNL_FORMAT_ERGO && code <= QNL_FORMAT_XML) create = quarn::detail::FindFormat(code);
    if (create == nullptr) {
        QNL_errorHandler::Instance().LogError(-2, "Unknown File Format");
        return nullptr;
    }
    try {
        return std::unique_ptr<QNL_textParser>(create(this));
    } catch (const std::bad_alloc&) {
        QNL_errorHandler::Instance().LogError(-42);
        return nullptr;
    }
}

// Nodes are dropped directly, without DeleteNode: nothing of the old model needs telling,
// and the mask is still the caller's here. Everything that describes the previous model
// (header, properties, documents, creation record, fault name format) goes back to what a
// new network has, so a file that lacks one of them does not inherit the old model's.
int QNL_network::ClearForReading() {
    SettleEvidenceWalk();
    if (cases != nullptr) cases->Clear();
    temporal.reset();
    for (int i = 0; i < tableSize; ++i) {
        QNL_nodeEntry& entry = table[i];
        delete entry.node;
        entry.node = nullptr;
        entry.CleanUp(1);
        entry.temporalType = 0;
        entry.height = 0;
    }
    idIndex.clear();
    ForgetFreedSlots();
    nodeCount = 0;
    targetCount = 0;
    numberOfSamples = 1000;
    orderedNodes.CleanUp();
    userProperties.CleanUp(1);
    documentation.CleanUp(1);
    creation = QNL_creationRecord();
    faultNameFormat = 0;
    if (submodels != nullptr) {
        int result = submodels->Reset();
        if (result != 0) return QNL_errorHandler::Instance().LogError(result);
        QNL_submodel* main = submodels->GetSubmodel(SUBMODEL_FLAG);
        if (main != nullptr) {
            main->header.SetId("Unnamed");
            main->header.SetName("Unnamed");
        }
    }
    return 0;
}

int QNL_network::ReadFile(const char* fileName, int code, int flags) {
    try {
        std::unique_ptr<QNL_textParser> format = CreateFormat(fileName, code);
        if (format == nullptr) return -2;
        if (flags != 0) format->SetFlags(flags);
        int result = ClearForReading();
        if (result != 0) return result;
        {
            ReadingState restore(*this);
            notificationMask = 0;
            readingMode = READING;
            if (format->AllowsDuplicateIds()) readingMode |= READING_DUPLICATE_IDS;
            if (format->SkipsCycleCheck()) readingMode |= READING_NO_CYCLE_TEST;
            result = format->Read(fileName);
            format.reset();
        }
        if (result != 0) return result;
        // An invalid node is reported and kept, and the read then fails with that code; a
        // node that is not ready is only reported, the model is still usable for editing.
        result = CheckConsistency(1);
        if (result != 0) return result;
        CheckReadiness(1);
        return 0;
    } catch (const std::exception& e) {
        return ExceptionCode(e);
    }
}

int QNL_network::WriteFile(const char* fileName, int code, int flags) {
    static const char* const kiRefused = "Writing to KI file format not supported.";
    try {
        if (code == QNL_FORMAT_KI) return QNL_errorHandler::Instance().LogError(-2, kiRefused);
        if (code == QNL_FORMAT_FROM_EXTENSION) {
            code = FileFormatFromExtension(fileName);
            if (code == QNL_FORMAT_KI) return QNL_errorHandler::Instance().LogError(-2, kiRefused);
        }
        std::unique_ptr<QNL_textParser> format = CreateFormat(fileName, code);
        if (format == nullptr) return -2;
        // Only the XML format holds the dynamic part; the others would drop it unsaid (the
        // text format refuses it on its own).
        for (int h = GetFirstNode(); code != QNL_FORMAT_XML && code != QNL_FORMAT_TEXT && h >= 0;
             h = GetNextNode(h))
            if (table[h].temporalType != 0)
                return QNL_errorHandler::Instance().LogError(
                    -2, "ERROR: This Network cannot be saved in this format: it has a temporal "
                        "part, which only the XML format holds");
        if (flags != 0) format->SetFlags(flags);
        return format->Write(fileName);
    } catch (const std::exception& e) {
        return ExceptionCode(e);
    }
}
