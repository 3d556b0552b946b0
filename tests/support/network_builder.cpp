#include "support/network_builder.h"

#include <algorithm>

namespace quarn_test {

QNL_doubleArray ArrayOf(const std::vector<double>& values) {
    QNL_doubleArray array;
    array.SetSize(static_cast<int>(values.size()));
    std::copy(values.begin(), values.end(), array.Items());
    return array;
}

QNL_stringArray StringsOf(const std::vector<std::string>& texts) {
    QNL_stringArray array;
    for (const std::string& t : texts)
        array.Add(t.c_str());
    return array;
}

QNL_intArray IntsOf(const std::vector<int>& values) {
    QNL_intArray array;
    for (int v : values)
        array.Add(v);
    return array;
}

std::string LastMessage() {
    const QNL_errorHandler& log = QNL_errorHandler::Instance();
    const int n = log.GetNumberOfErrors();
    return n > 0 && log.GetMessage(n - 1) != nullptr ? log.GetMessage(n - 1) : "";
}

QNL_intArray Reversed(int n) {
    QNL_intArray array;
    while (n-- > 0)
        array.Add(n);
    return array;
}

void ExpectNear(const std::vector<double>& actual, const std::vector<double>& expected,
                double tolerance, const std::string& label) {
    ASSERT_EQ(actual.size(), expected.size()) << label;
    for (std::size_t i = 0; i < actual.size(); ++i)
        EXPECT_NEAR(actual[i], expected[i], tolerance) << label << " cell " << i;
}

std::vector<std::string> IdsOf(const QNL_nodeDefinition* definition) {
    std::vector<std::string> ids;
    const QNL_idArray* array = definition->GetOutcomeIds();
    for (int i = 0; i < array->GetCount(); ++i)
        ids.push_back(array->GetString(i));
    return ids;
}

std::vector<double> ValuesOf(const QNL_nodeDefinition* definition) {
    QNL_doubleArray array;
    EXPECT_EQ(definition->GetDefinition(array), 0);
    return std::vector<double>(array.Items(), array.Items() + array.GetSize());
}

ScopedRegistration::ScopedRegistration(int type, quarn::detail::DefinitionCreator creator)
    : type(type), previous(quarn::detail::FindDefinitionClass(type)) {
    quarn::detail::RegisterDefinitionClass(type, creator);
}

ScopedRegistration::~ScopedRegistration() {
    quarn::detail::RegisterDefinitionClass(type, previous);
}

int NetworkFixture::Add(int type, const char* id) {
    const int handle = net.AddNode(type, id);
    EXPECT_GE(handle, 0) << id;
    return handle;
}

int NetworkFixture::AddWithOutcomes(int type, const char* id, int outcomes) {
    const int handle = Add(type, id);
    if (handle >= 0 && outcomes != 2) {
        EXPECT_EQ(Def(handle)->SetNumberOfOutcomes(outcomes), 0);
    }
    return handle;
}

} // namespace quarn_test
