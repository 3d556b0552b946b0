#include "formats/xml/xml_format.h"

#include "formats/xml/xml_network_reader.h"
#include "formats/xml/xml_network_writer.h"
#include "model/error_handler.h"

int QNL_xmlFormat::Read(const char* path) {
    if (network == nullptr) return QNL_errorHandler::Instance().LogError(-2, "No network");
    return QNL_xmlNetworkReader::Read(path, network, flags) ? FinishReading(0) : -103;
}

int QNL_xmlFormat::Write(const char* path) {
    if (network == nullptr) return QNL_errorHandler::Instance().LogError(-2, "No network");
    const int check = QNL_xmlNetworkWriter::CheckNetwork(*network, flags == 0);
    if (check != 0) return check;
    return QNL_xmlNetworkWriter::Write(path, network, flags) ? 0 : -103;
}
