// The writer of the own text format: always the same statements in the same order, blocks
// opened as name " = ", "{" one level deeper, contents two levels deeper and closed by "};".

#include "formats/foreign_format_support.h"
#include "formats/qnl_format.h"
#include "numerics/number_text.h"

#include "definitions/cpt.h"
#include "definitions/extra_definition.h"
#include "definitions/logic_gates.h"
#include "definitions/mau.h"
#include "definitions/noisy_max.h"
#include "definitions/table.h"
#include "definitions/truth_table.h"
#include "model/error_handler.h"
#include "model/network.h"
#include "model/node.h"
#include "model/node_cost.h"
#include "model/node_definition.h"
#include "model/node_info.h"
#include "model/submodel.h"

#include <new>
#include <string>

namespace {

// The types this format has statements for.
bool HasStatements(int type) {
    switch (type) {
    case QNL_TYPE_CPT:
    case QNL_TYPE_TRUTHTABLE:
    case QNL_TYPE_LIST:
    case QNL_TYPE_TABLE:
    case QNL_TYPE_MAU:
    case QNL_TYPE_CAST:
    case QNL_TYPE_NOISY_MAX:
        return true;
    default:
        return false;
    }
}

const char* OrUnnamed(const char* id, const char* unnamed) {
    return id != nullptr ? id : unnamed;
}

// The first n items of a matrix's values, as a list to write.
QNL_doubleArray FirstValues(const QNL_doubleArray& values, int n) {
    QNL_doubleArray out;
    for (int i = 0; i < n && i < values.GetSize(); ++i)
        out.Add(values[i]);
    return out;
}

} // namespace

// Chains writes, stopping at the first failure.
#define QNL_WRITE(expression)                                                                      \
    do {                                                                                           \
        if (int written_ = (expression)) return written_;                                          \
    } while (false)

// ---------------------------------------------------------------------------------------
// Shared small writers

int QNL_textFormat::WriteHeaderFields(const QNL_header& header) {
    QNL_WRITE(WriteProperty("ID", header.GetId(), false, false));
    QNL_WRITE(WriteStringProperty("NAME", header.GetName()));
    return WriteStringProperty("COMMENT", header.GetComment());
}

int QNL_textFormat::WriteHeaderBlock(const QNL_header& header) {
    QNL_WRITE(WriteBlockStart("HEADER"));
    QNL_WRITE(WriteHeaderFields(header));
    return WriteBlockEnd();
}

int QNL_textFormat::WriteUserProperties(const QNL_userProperties& properties) {
    for (int i = 0; i < properties.GetNumberOfProperties(); ++i) {
        const char* value = properties.GetValue(i);
        QNL_WRITE(WriteStringProperty(properties.GetName(i), value != nullptr ? value : ""));
    }
    return 0;
}

int QNL_textFormat::WriteDocumentation(const QNL_documentation& documents) {
    for (int i = 0; i < documents.GetNumberOfDocuments(); ++i) {
        QNL_WRITE(WriteLine(""));
        QNL_WRITE(WriteQuotedText(OrUnnamed(documents.GetTitle(i), "")));
        QNL_WRITE(outputFile.Write(" = "));
        QNL_WRITE(WriteQuotedText(OrUnnamed(documents.GetPath(i), "")));
        QNL_WRITE(outputFile.Write(";\n"));
    }
    return 0;
}

int QNL_textFormat::WriteCreation(const QNL_creationRecord& creation) {
    QNL_WRITE(WriteBlockStart("CREATION"));
    for (auto [name, text] : {std::pair{"CREATOR", &creation.creator},
                              {"CREATED", &creation.created},
                              {"MODIFIED", &creation.modified}})
        if (!text->empty()) QNL_WRITE(WriteStringProperty(name, text->c_str()));
    return WriteBlockEnd();
}

int QNL_textFormat::WriteRectangle(const QNL_rectangle& rectangle) {
    QNL_WRITE(WriteIntegerProperty("CENTER_X", rectangle.x));
    QNL_WRITE(WriteIntegerProperty("CENTER_Y", rectangle.y));
    QNL_WRITE(WriteIntegerProperty("WIDTH", rectangle.width));
    return WriteIntegerProperty("HEIGHT", rectangle.height);
}

int QNL_textFormat::WriteRectangleBlock(const char* name, const QNL_rectangle& rectangle) {
    QNL_WRITE(WriteBlockStart(name));
    QNL_WRITE(WriteRectangle(rectangle));
    return WriteBlockEnd();
}

int QNL_textFormat::WriteScreenFields(const QNL_screenInfo& screen) {
    QNL_WRITE(WriteRectangleBlock("POSITION", screen.position));
    QNL_WRITE(WriteIntegerProperty("COLOR", screen.color));
    QNL_WRITE(WriteIntegerProperty("SELCOLOR", screen.selColor));
    QNL_WRITE(WriteIntegerProperty("FONT", screen.font));
    QNL_WRITE(WriteIntegerProperty("FONTCOLOR", screen.fontColor));
    QNL_WRITE(WriteIntegerProperty("BORDERTHICKNESS", screen.borderThickness));
    QNL_WRITE(WriteIntegerProperty("BORDERCOLOR", screen.borderColor));
    if ((screen.flags & QNL_screenInfo::FLAG_SHOW_IN_ARCS) == 0)
        QNL_WRITE(WriteBooleanProperty("SHOWINARCS", false));
    if ((screen.flags & QNL_screenInfo::FLAG_SHOW_OUT_ARCS) == 0)
        QNL_WRITE(WriteBooleanProperty("SHOWOUTARCS", false));
    return 0;
}

int QNL_textFormat::WriteScreenBlock(const QNL_screenInfo& screen) {
    QNL_WRITE(WriteBlockStart("SCREEN"));
    QNL_WRITE(WriteScreenFields(screen));
    return WriteBlockEnd();
}

int QNL_textFormat::WriteScreenComment(const char* text, const QNL_rectangle& rectangle) {
    QNL_intArray numbers;
    for (int value : {rectangle.x, rectangle.y, rectangle.width, rectangle.height})
        numbers.Add(value);
    QNL_WRITE(WriteLine("SCREENCOMMENT"));
    QNL_WRITE(outputFile.Write(" = "));
    QNL_WRITE(outputFile.Write(" { "));
    QNL_WRITE(WriteIntegerList(numbers, false));
    QNL_WRITE(outputFile.Write(","));
    QNL_WRITE(WriteQuotedText(OrUnnamed(text, "")));
    return outputFile.Write("};\n");
}

// ---------------------------------------------------------------------------------------
// The file

int QNL_textFormat::CheckWritable() {
    for (int h = network->GetFirstNode(); h >= 0; h = network->GetNextNode(h)) {
        const QNL_node* node = network->GetNode(h);
        const int type = node->GetType();
        const char* why = nullptr;
        if (!HasStatements(type))
            why = "' is of a type without statements in it";
        else if (network->GetTemporalType(h) != 0)
            why = "' belongs to the temporal plate";
        else if (type == QNL_TYPE_MAU &&
                 static_cast<const QNL_mau*>(node->GetDefinition())->GetExpressions() != nullptr)
            why = "' is defined by expressions";
        else if (!quarn::detail::HoldsFiniteNumbers(node, quarn::detail::DEFINITION_NUMBERS |
                                                              quarn::detail::GATE_NUMBERS |
                                                              quarn::detail::COST_NUMBERS))
            why = "' holds a number that is not finite";
        if (why != nullptr)
            return QNL_errorHandler::Instance().LogError(
                -2, std::string("ERROR: This Network cannot be saved in QNL format: node '") +
                        OrUnnamed(node->GetId(), "_Unnamed_Node_") + why);
    }
    return 0;
}

int QNL_textFormat::Write(const char* path) {
    if (network == nullptr) return -2;
    try {
        int result = CheckWritable();
        if (result != 0) return result;
        result = OpenFile(path, QNL_textFile::WRITE_MODE);
        if (result != 0) return result;
        result = WriteNetwork();
        if (result != 0) {
            DiscardFile();
            return result;
        }
        return CloseFile();
    } catch (const std::bad_alloc&) {
        DiscardFile();
        return QNL_errorHandler::Instance().LogError(-42);
    }
}

int QNL_textFormat::WriteNetwork() {
    QNL_submodelHandler& handler = network->GetSubmodelHandler();
    const QNL_submodel* main = handler.GetSubmodel(QNL_submodelHandler::MAIN_HANDLE);
    const QNL_header* header = network->GetHeader();
    if (main == nullptr || header == nullptr) return -2;
    QNL_WRITE(WriteLine("net "));
    QNL_WRITE(outputFile.Write(OrUnnamed(header->GetId(), "_Unnamed_Network_")));
    QNL_WRITE(outputFile.Write("\n{\n"));
    QNL_WRITE(Indent());

    QNL_WRITE(WriteHeaderBlock(*header));
    QNL_WRITE(WriteCreation(network->GetCreation()));
    QNL_WRITE(WriteIntegerProperty("NUMSAMPLES", network->GetNumberOfSamples()));
    QNL_WRITE(WriteScreenBlock(main->screen));
    QNL_WRITE(WriteRectangleBlock("WINDOWPOSITION", main->windowPosition));
    QNL_WRITE(WriteIntegerProperty("BKCOLOR", main->windowBackground));
    for (int i = 0; i < main->comments.GetCount(); ++i)
        QNL_WRITE(WriteScreenComment(main->comments.GetTexts().GetString(i),
                                     main->comments.GetRectangles().GetRectangle(i)));
    QNL_WRITE(WriteBlockStart("USER_PROPERTIES"));
    QNL_WRITE(WriteUserProperties(network->GetUserProperties()));
    QNL_WRITE(WriteBlockEnd());
    QNL_WRITE(WriteBlockStart("DOCUMENTATION"));
    QNL_WRITE(WriteDocumentation(network->GetDocumentation()));
    QNL_WRITE(WriteBlockEnd());
    QNL_WRITE(WriteIntegerProperty("SHOWAS", network->GetNodeDisplayMode()));

    QNL_intArray submodels;
    QNL_WRITE(handler.GetOrderedSubmodels(submodels));
    for (int i = 0; i < submodels.GetCount(); ++i) {
        if (submodels[i] == QNL_submodelHandler::MAIN_HANDLE) continue;
        QNL_WRITE(outputFile.Write("\n"));
        QNL_WRITE(WriteSubmodel(submodels[i]));
        QNL_WRITE(outputFile.Write(";\n"));
    }

    // A copy: the network's own list is rebuilt by later queries.
    QNL_intArray order;
    order.Assign(network->GetOrderedNodes());
    for (int i = 0; i < order.GetCount(); ++i) {
        QNL_WRITE(outputFile.Write("\n"));
        QNL_WRITE(WriteNode(order[i]));
        QNL_WRITE(outputFile.Write(";\n"));
    }

    QNL_WRITE(WriteBlockStart("OBSERVATION_COST"));
    for (int i = 0; i < order.GetCount(); ++i) {
        QNL_WRITE(outputFile.Write("\n"));
        QNL_WRITE(WriteCostEntry(order[i]));
        QNL_WRITE(outputFile.Write(";\n"));
    }
    QNL_WRITE(WriteBlockEnd());
    QNL_WRITE(Unindent());
    return WriteLine("};\n");
}

// keyword id, a newline, "{" one level deeper, the contents two levels deeper.
int QNL_textFormat::WriteEntryStart(const char* keyword, const char* id) {
    QNL_WRITE(WriteLine(keyword));
    QNL_WRITE(outputFile.Write(" "));
    QNL_WRITE(outputFile.Write(id));
    QNL_WRITE(outputFile.Write("\n"));
    QNL_WRITE(Indent());
    QNL_WRITE(WriteLine("{\n"));
    return Indent();
}

// "}" one level deeper; the caller adds ";".
int QNL_textFormat::WriteEntryEnd() {
    QNL_WRITE(Unindent());
    QNL_WRITE(WriteLine("}"));
    return Unindent();
}

int QNL_textFormat::WriteIdentifierProperty(const char* name, const char* id) {
    return WriteProperty(name, id, false, false);
}

int QNL_textFormat::WriteNodeIdList(const char* name, const QNL_intArray& nodes) {
    QNL_stringArray ids;
    for (int i = 0; i < nodes.GetCount(); ++i) {
        const QNL_node* node = network->GetNode(nodes[i]);
        QNL_WRITE(ids.Add(OrUnnamed(node != nullptr ? node->GetId() : nullptr, "UnknownParent")) < 0
                      ? -42
                      : 0);
    }
    return WriteIdentifierListProperty(name, ids, false);
}

int QNL_textFormat::WriteSubmodel(int handle) {
    QNL_submodelHandler& handler = network->GetSubmodelHandler();
    const QNL_submodel* submodel = handler.GetSubmodel(handle);
    QNL_WRITE(
        WriteEntryStart("submodel", OrUnnamed(submodel->header.GetId(), "_Unnamed_Submodel_")));
    const int parent = handler.GetParent(handle);
    if (parent != QNL_submodelHandler::MAIN_HANDLE) {
        const QNL_submodel* above = handler.GetSubmodel(parent);
        QNL_WRITE(WriteIdentifierProperty(
            "PARENT",
            OrUnnamed(above != nullptr ? above->header.GetId() : nullptr, "_Unknown_Parent_")));
    }
    QNL_WRITE(WriteHeaderBlock(submodel->header));
    QNL_WRITE(WriteScreenBlock(submodel->screen));
    QNL_WRITE(WriteRectangleBlock("WINDOWPOSITION", submodel->windowPosition));
    QNL_WRITE(WriteIntegerProperty("BKCOLOR", submodel->windowBackground));
    for (int i = 0; i < submodel->comments.GetCount(); ++i)
        QNL_WRITE(WriteScreenComment(submodel->comments.GetTexts().GetString(i),
                                     submodel->comments.GetRectangles().GetRectangle(i)));
    return WriteEntryEnd();
}

int QNL_textFormat::WriteNode(int handle) {
    const QNL_node* node = network->GetNode(handle);
    const QNL_nodeInfo* info = node->GetInfo();
    QNL_WRITE(WriteEntryStart("node", OrUnnamed(node->GetId(), "_Unnamed_Node_")));
    QNL_WRITE(WriteIdentifierProperty("TYPE", node->GetDefinition()->GetTypeName()));
    QNL_WRITE(WriteHeaderBlock(info->header));
    QNL_WRITE(WriteScreenBlock(info->screen));
    if (network->IsTarget(handle) == 1) QNL_WRITE(WriteBooleanProperty("TARGET", true));
    if (node->GetSubmodel() != QNL_submodelHandler::MAIN_HANDLE) {
        const QNL_submodel* submodel =
            network->GetSubmodelHandler().GetSubmodel(node->GetSubmodel());
        if (submodel != nullptr && submodel->header.GetId() != nullptr)
            QNL_WRITE(WriteIdentifierProperty("SUBMODEL", submodel->header.GetId()));
    }
    QNL_WRITE(WriteBlockStart("USER_PROPERTIES"));
    QNL_WRITE(WriteUserProperties(info->properties));
    QNL_WRITE(WriteBlockEnd());
    QNL_WRITE(WriteBlockStart("DOCUMENTATION"));
    QNL_WRITE(WriteDocumentation(info->documentation));
    QNL_WRITE(WriteBlockEnd());
    QNL_WRITE(WriteNodeIdList("PARENTS", network->GetParents(handle, 0)));
    QNL_WRITE(WriteBlockStart("DEFINITION"));
    QNL_WRITE(WriteDefinition(handle));
    QNL_WRITE(WriteBlockEnd());
    QNL_WRITE(WriteBlockStart("EXTRA_DEFINITION"));
    QNL_WRITE(WriteExtraDefinition(handle));
    QNL_WRITE(WriteBlockEnd());
    return WriteEntryEnd();
}

int QNL_textFormat::WriteDefinition(int handle) {
    QNL_nodeDefinition* definition = network->GetNode(handle)->GetDefinition();
    const QNL_idArray* ids = definition->GetOutcomeIds();
    switch (definition->GetType()) {
    case QNL_TYPE_CPT: {
        QNL_WRITE(WriteIdentifierListProperty("NAMESTATES", *ids, false));
        const QNL_Dmatrix& table = static_cast<QNL_cpt*>(definition)->GetTable();
        return WriteRealListProperty("PROBABILITIES", table.GetItems(), true);
    }
    case QNL_TYPE_TRUTHTABLE: {
        QNL_WRITE(WriteIdentifierListProperty("NAMESTATES", *ids, false));
        QNL_stringArray states;
        QNL_WRITE(static_cast<QNL_truthTable*>(definition)->GetResultingStates(states));
        return WriteIdentifierListProperty("RESULTINGSTATES", states, false);
    }
    case QNL_TYPE_LIST:
        return WriteIdentifierListProperty("NAMECHOICES", *ids, false);
    case QNL_TYPE_TABLE:
        return WriteRealListProperty(
            "UTILITIES", static_cast<QNL_table*>(definition)->GetTable().GetItems(), true);
    case QNL_TYPE_MAU:
        return WriteRealListProperty(
            "WEIGHTS", static_cast<QNL_mau*>(definition)->GetWeights().GetItems(), true);
    case QNL_TYPE_CAST: {
        const auto* cast = static_cast<QNL_cast*>(definition);
        const int n = cast->GetNumberOfParentEntries();
        QNL_WRITE(
            WriteRealListProperty("PWEIGHTS", FirstValues(cast->GetPositiveWeights(), n), false));
        QNL_WRITE(
            WriteRealListProperty("NWEIGHTS", FirstValues(cast->GetNegativeWeights(), n), false));
        return WriteStringProperty("BASELINE", FormatNumber(cast->GetBaseline()).c_str());
    }
    case QNL_TYPE_NOISY_MAX: {
        const auto* noisy = static_cast<QNL_noisyMAX*>(definition);
        QNL_WRITE(WriteIdentifierListProperty("NAMESTATES", *ids, false));
        QNL_intArray positions;
        for (int j = 0; j < noisy->GetNumberOfBlocks(); ++j) {
            const QNL_intArray* order = noisy->GetParentOutcomeStrengths(j);
            for (int i = 0; order != nullptr && i < noisy->GetBlockSize(j); ++i)
                positions.Add(order->FindPosition(i));
        }
        QNL_WRITE(WriteIntegerListProperty("STRENGTHS", positions, false));
        return WriteRealListProperty("PROBABILITIES", noisy->GetParameters().GetItems(), true);
    }
    default:
        return 0;
    }
}

int QNL_textFormat::WriteExtraDefinition(int handle) {
    const QNL_extraDefinition* extra = network->GetNode(handle)->GetExtraDefinition();
    if (extra == nullptr) return 0;
    static const char* const TYPES[] = {"TARGET", "OBSERVATION", "AUXILIARY"};
    const int type = extra->GetDiagnosisType();
    if (type >= 0 && type <= 2) QNL_WRITE(WriteIdentifierProperty("DIAGNOSIS_TYPE", TYPES[type]));
    QNL_WRITE(WriteBooleanProperty("RANKED", extra->IsRanked() != 0));
    QNL_WRITE(WriteBooleanProperty("MANDATORY", extra->IsMandatory() != 0));
    QNL_WRITE(WriteBooleanProperty("SETASDEFAULT", extra->IsSetAsDefault() != 0));
    QNL_WRITE(WriteIntegerProperty("SHOWAS", extra->GetDisplayMode()));
    const int n = extra->GetNumberOfOutcomes();
    QNL_intArray faults;
    QNL_stringArray names, labels, descriptions, fixes;
    for (int i = 0; i < n; ++i) {
        faults.Add(extra->IsFaultOutcome(i));
        names.Add(OrUnnamed(extra->GetFaultName(i), ""));
        labels.Add(OrUnnamed(extra->GetOutcomeLabels().GetString(i), ""));
        descriptions.Add(OrUnnamed(extra->GetOutcomeDescription(i), ""));
        fixes.Add(OrUnnamed(extra->GetOutcomeFix(i), ""));
    }
    QNL_WRITE(WriteIntegerListProperty("FAULT_STATES", faults, false));
    QNL_WRITE(WriteStringListProperty("FAULT_NAMES", names, false));
    QNL_WRITE(WriteStringListProperty("FAULT_LABELS", labels, false));
    QNL_WRITE(WriteIntegerProperty("DEFAULT_STATE", extra->GetDefaultOutcome()));
    for (int i = 0; i < n; ++i) {
        QNL_WRITE(WriteBlockStart("DOCUMENTATION"));
        QNL_WRITE(WriteDocumentation(*extra->GetOutcomeDocumentation(i)));
        QNL_WRITE(WriteBlockEnd());
    }
    QNL_WRITE(WriteStringListProperty("STATECOMMENTS", descriptions, false));
    QNL_WRITE(WriteStringListProperty("STATEREPAIRINFO", fixes, false));
    return WriteStringProperty("QUESTION", extra->GetQuestion());
}

int QNL_textFormat::WriteCostEntry(int handle) {
    const QNL_node* node = network->GetNode(handle);
    QNL_WRITE(WriteEntryStart("node", OrUnnamed(node->GetId(), "_Unnamed_Node_")));
    QNL_WRITE(WriteNodeIdList("PARENTS", network->GetParents(handle, 1)));
    if (const QNL_nodeCost* cost = node->GetCost())
        QNL_WRITE(WriteRealListProperty("COSTS", cost->GetCosts().GetItems(), true));
    return WriteEntryEnd();
}

#undef QNL_WRITE
