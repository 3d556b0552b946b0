// The built-in definition classes, entered in the node's definition factory when the library
// loads. A type code missing here is refused by AddNode and SetType.

#include "definitions/cpt.h"
#include "definitions/equation.h"
#include "definitions/equation_scc.h"
#include "definitions/hybrid_definition.h"
#include "definitions/list.h"
#include "definitions/logic_gates.h"
#include "definitions/mau.h"
#include "definitions/noisy_adder.h"
#include "definitions/noisy_max.h"
#include "definitions/table.h"
#include "definitions/truth_table.h"
#include "model/node.h"

namespace {

template <typename Definition> QNL_nodeDefinition* Create(int handle, QNL_network* network) {
    return new Definition(handle, network);
}

struct BuiltinDefinitions {
    BuiltinDefinitions() {
        quarn::detail::RegisterDefinitionClass(QNL_TYPE_CPT, Create<QNL_cpt>);
        quarn::detail::RegisterDefinitionClass(QNL_TYPE_TRUTHTABLE, Create<QNL_truthTable>);
        quarn::detail::RegisterDefinitionClass(QNL_TYPE_LIST, Create<QNL_list>);
        quarn::detail::RegisterDefinitionClass(QNL_TYPE_TABLE, Create<QNL_table>);
        quarn::detail::RegisterDefinitionClass(QNL_TYPE_MAU, Create<QNL_mau>);
        quarn::detail::RegisterDefinitionClass(QNL_TYPE_NOISY_MAX, Create<QNL_noisyMAX>);
        quarn::detail::RegisterDefinitionClass(QNL_TYPE_NOISY_ADDER, Create<QNL_noisyAdder>);
        quarn::detail::RegisterDefinitionClass(QNL_TYPE_DEMORGAN, Create<QNL_demorgan>);
        quarn::detail::RegisterDefinitionClass(QNL_TYPE_CAST, Create<QNL_cast>);
        quarn::detail::RegisterDefinitionClass(QNL_TYPE_EQUATION, Create<QNL_equation>);
        quarn::detail::RegisterDefinitionClass(QNL_TYPE_EQUATION_SCC, Create<QNL_equationSCC>);
        quarn::detail::RegisterDefinitionClass(QNL_TYPE_DISTRIBUTION, Create<QNL_distribution>);
        quarn::detail::RegisterDefinitionClass(QNL_TYPE_HEQUATION, Create<QNL_hequation>);
        quarn::detail::RegisterDefinitionClass(QNL_TYPE_DCHILDHPARENT, Create<QNL_dchildHparent>);
    }
};

const BuiltinDefinitions registerAtLoad;

} // namespace
