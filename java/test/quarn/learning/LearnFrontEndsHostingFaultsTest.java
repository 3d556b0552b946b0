package quarn.learning;

import static quarn.learning.DataSetTest.assertFails;

import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;

/** Null references and released objects of GreedyThickThinning and NaiveBayes; a JVM of their own. */
@Tag("isolated")
class LearnFrontEndsHostingFaultsTest {
    @Test
    void nullAndReleasedArgumentsAreRefused() {
        try (GreedyThickThinning gtt = new GreedyThickThinning(); NaiveBayes nb = new NaiveBayes()) {
            assertFails("Argument 'data' must not be null", () -> gtt.learn(null));
            assertFails("Argument 'data' must not be null", () -> nb.learn(null));
            assertFails("Argument 'bk' must not be null", () -> gtt.setBkKnowledge(null));
            assertFails("Argument 'id' must not be null", () -> nb.setClassVariableId(null));
            DataSet gone = new DataSet();
            gone.close();
            GreedyThickThinning closedGtt = new GreedyThickThinning();
            closedGtt.close();
            NaiveBayes closedNb = new NaiveBayes();
            closedNb.close();
            Executable[] calls = {
                () -> gtt.learn(gone), () -> nb.learn(gone),
                () -> closedGtt.learn(new DataSet()), () -> closedGtt.setMaxParents(1),
                closedGtt::getMaxParents, () -> closedGtt.setNetWeight(2.0),
                closedGtt::getNetWeight, () -> closedGtt.setPriorsMethod(1),
                closedGtt::getPriorsMethod, closedGtt::getBkKnowledge,
                () -> closedGtt.setBkKnowledge(new BkKnowledge(null, null, null)),
                () -> closedNb.learn(new DataSet()), () -> closedNb.setNetWeight(2.0),
                closedNb::getNetWeight, () -> closedNb.setPriorsMethod(1),
                closedNb::getPriorsMethod, () -> closedNb.setFeatureSelection(true),
                closedNb::getFeatureSelection, () -> closedNb.setClassVariableId("c"),
                closedNb::getClassVariableId,
            };
            for (Executable call : calls) {
                assertFails("The native object does not exist (it was deleted or never created)",
                        call);
            }
        }
    }
}
