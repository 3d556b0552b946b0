// The multi-attribute utility elements of the XML network format: "mau" with its weights and
// "maux" with one expression per configuration of its decision parents.

#include "definitions/mau.h"
#include "equations/expr_parser.h"
#include "formats/xml/xml_network_reader.h"
#include "model/network.h"
#include "model/node.h"
#include "model/string_array.h"

#include <memory>
#include <string>

namespace {

using Flags = QNL_xmlElementHandler;

void FailFirst(QNL_xmlReader& reader, const std::string& message) {
    if (!reader.HasFailed()) reader.Fail(message);
}

} // namespace

void QNL_xmlNetworkReader::BuildMauSchema(QNL_xmlElementHandler* nodes,
                                          QNL_xmlElementHandler* parents,
                                          QNL_xmlElementHandler* nodeProperty) {
    using R = QNL_xmlNetworkReader;
    QNL_xmlElementHandler* weights =
        Element("weights", Flags::INHERIT, &R::ListStart, nullptr, &R::DoubleToken);
    QNL_xmlElementHandler* mau = NodeElement("mau", &R::MauStart, weights);
    QNL_xmlElementHandler* expression =
        Element("expression", Flags::INHERIT, nullptr, &R::ExpressionEnd);
    QNL_xmlElementHandler* maux = NodeElement("maux", &R::MauxStart, nullptr);
    maux->AddChild(expression, Flags::REQUIRED | Flags::MULTIPLE);
    for (QNL_xmlElementHandler* element : {mau, maux}) {
        element->AddChild(parents, 0);
        element->AddChild(nodeProperty, Flags::MULTIPLE);
        nodes->AddChild(element, Flags::MULTIPLE);
    }
}

void QNL_xmlNetworkReader::MauStart(QNL_xmlReader& reader) {
    NodeStart(reader, QNL_TYPE_MAU);
}

void QNL_xmlNetworkReader::MauxStart(QNL_xmlReader& reader) {
    NodeStart(reader, QNL_TYPE_MAU);
    scratch.expressionForm = true;
}

// Only whether the text parses is checked here; the names it uses are checked against the
// node's relatives once the node is complete.
void QNL_xmlNetworkReader::ExpressionEnd(QNL_xmlReader& reader) {
    if (currentNode < 0) return;
    std::string text, error;
    reader.GetUnescapedText(text);
    std::unique_ptr<QNL_exprNode> tree(ParseExpression(text, nullptr, &error));
    if (tree == nullptr) {
        reader.Fail("Invalid expression: " + error);
        return;
    }
    scratch.expressions.push_back(text);
    scratch.payloadMet = true;
}

void QNL_xmlNetworkReader::SetMau(QNL_xmlReader& reader, QNL_nodeDefinition* definition) {
    auto* mau = dynamic_cast<QNL_mau*>(definition);
    if (!scratch.expressionForm) {
        QNL_doubleArray values;
        for (double v : scratch.values)
            if (values.Add(v) != 0) return FailFirst(reader, "SetWeights failed");
        if (mau == nullptr || mau->SetDefinition(values) != 0)
            FailFirst(reader, "SetWeights failed");
        return;
    }
    QNL_expressionMatrix shape;
    if (mau == nullptr || mau->InitExpressionMatrix(shape) != 0)
        return FailFirst(reader, "Unexpected error");
    if (static_cast<int>(scratch.expressions.size()) != shape.GetSize())
        return FailFirst(
            reader, "Invalid number of expressions: " + std::to_string(scratch.expressions.size()) +
                        ", expected " + std::to_string(shape.GetSize()));
    QNL_stringArray texts;
    for (const std::string& text : scratch.expressions)
        if (texts.Add(text.c_str()) != 0) return FailFirst(reader, "Unexpected error");
    std::string error;
    if (mau->SetExpressions(texts, error) != 0)
        FailFirst(reader, "SetExpressions failed: '" + error + "'");
}
