package quarn.learning;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;
import org.junit.jupiter.api.io.TempDir;
import quarn.Network;
import quarn.QUARNException;

/** Data sets: reading, cells and matching, and EM learning on a matched network. */
class DataSetTest {
    @TempDir Path folder;

    static void assertFails(String message, Executable call) {
        assertEquals(message, assertThrows(QUARNException.class, call).getMessage());
    }

    /** A -> B over the outcomes yes/no and b0/b1. */
    static Network network() {
        Network net = new Network();
        String[][] outcomes = {{"A", "yes", "no"}, {"B", "b0", "b1"}};
        for (String[] node : outcomes) {
            int n = net.addNode(18, node[0]);
            net.setOutcomeId(n, 0, node[1]);
            net.setOutcomeId(n, 1, node[2]);
        }
        net.addArc(0, 1);
        return net;
    }

    String file(String text) throws IOException {
        Path path = folder.resolve("data.txt");
        Files.write(path, text.getBytes(StandardCharsets.UTF_8));
        return path.toString();
    }

    @Test
    void readsAFileIntoIntegerFloatAndNamedColumns() throws IOException {
        try (DataSet data = new DataSet()) {
            data.readFile(file("A,x,B\nno,1,b1\nyes,2.5,*\nNA,*,b0\n"), null, -1, -9f);
            assertEquals(3, data.getRecordCount());
            assertArrayEquals(new String[] {"NA", "no", "yes"}, data.getStateNames(0));
            assertEquals(2.5f, data.getFloat(1, 1));
            assertEquals(-9f, data.getFloat(1, 2));
            assertEquals(-1, data.getInt(2, 1));
            data.readFile(file("A\n*\nNA\n"), "NA", -5, 0f);
            assertArrayEquals(new String[] {"*"}, data.getStateNames(0));
            assertEquals(-1, data.getInt(0, 1));

            // Bytes that are not UTF-8 reach the host as Latin-1.
            Path latin = folder.resolve("latin.txt");
            Files.write(latin, new byte[] {'c', 'a', 'f', (byte) 0xE9, '\n', 'x', '\n'});
            data.readFile(latin.toString(), null, -1, 0f);
            assertEquals("caf\u00e9", data.getVariableId(0));
        }
    }

    @Test
    void readFailuresCarryTheReadersMessage() {
        try (DataSet data = new DataSet()) {
            String missing = folder.resolve("none.txt").toString();
            assertFails("QUARN error -1 in function readFile. Logged information: "
                    + "Can't open data file: " + missing + "\n",
                    () -> data.readFile(missing, null, -1, 0f));
        }
    }

    @Test
    void indicesAreCheckedWithTheirMessages() {
        try (DataSet data = new DataSet()) {
            assertFails("DataSet object has no variables", () -> data.getInt(0, 0));
            assertFails("DataSet object has no variables", () -> data.getVariableId(0));
            data.addIntVariable("a", -1);
            data.addFloatVariable("b", -2f);
            assertFails("DataSet object has no records", () -> data.getInt(0, 0));
            for (int i = 0; i < 3; i++) {
                data.addEmptyRecord();
            }
            String variable = "Invalid variable index %d, valid range is 0..1";
            String record = "Invalid record index%d, valid range is 0..2";
            assertFails("Negative variable index", () -> data.getNodeHandle(-1));
            assertFails(String.format(variable, 2), () -> data.setNodeHandle(2, 0));
            assertFails("Negative record index", () -> data.setInt(0, -1, 0));
            assertFails(String.format(record, 3), () -> data.setFloat(1, 3, 0f));
            assertFails(String.format(variable, 2), () -> data.getFloat(2, 0));
        }
    }

    @Test
    void recordsAndCellsAreRawFourByteViews() {
        try (DataSet data = new DataSet()) {
            data.addEmptyRecord();
            data.addIntVariable("a", -1);
            data.addFloatVariable("b", 0.25f);
            // The record that existed before the variables did not observe them.
            assertEquals(-1, data.getInt(0, 0));
            assertEquals(0.25f, data.getFloat(1, 0));
            data.addEmptyRecord();
            assertEquals(0.25f, data.getFloat(1, 1));
            data.setInt(0, 1, 7);
            assertEquals(Float.intBitsToFloat(7), data.getFloat(0, 1));
            data.setFloat(1, 1, 1.5f);
            assertEquals(Float.floatToRawIntBits(1.5f), data.getInt(1, 1));
            assertFails("QUARN error -1 in function addIntVariable",
                    () -> data.addIntVariable("b", 0));
            assertEquals(2, data.getVariableCount());
            data.setNodeHandle(1, 4);
            assertEquals(4, data.getNodeHandle(1));
        }
    }

    @Test
    void stateNamesAreReplacedWholeOrNotAtAll() {
        try (DataSet data = new DataSet()) {
            data.addIntVariable("A", -1);
            data.setStateNames(0, new String[] {"yes", "no"});
            assertFails("State name can't be null (index 2)",
                    () -> data.setStateNames(0, new String[] {"a", "b", null}));
            assertArrayEquals(new String[] {"yes", "no"}, data.getStateNames(0));
            data.setStateNames(0, new String[] {"\u00e9t\u00e9", "no"});
            assertArrayEquals(new String[] {"\u00e9t\u00e9", "no"}, data.getStateNames(0));
        }
    }

    @Test
    void matchingTiesVariablesToNodesAndMapsStates() throws IOException {
        try (Network net = network(); DataSet data = new DataSet()) {
            data.readFile(file("B,A\nb1,no\n*,yes\n"), null, -1, 0f);
            data.matchNetwork(net);
            data.matchNetwork(net);
            assertEquals(1, data.getNodeHandle(0));
            assertEquals(0, data.getInt(1, 1));
            assertEquals(-1, data.getInt(0, 1));

            data.setStateNames(1, new String[] {"maybe"});
            assertFails("Dataset column 'A' contains value 'maybe' which doesn't map to any node "
                    + "outcome", () -> data.matchNetwork(net));
        }
    }

    @Test
    void settersAreCoupled() {
        try (EM em = new EM()) {
            assertEquals(0, em.getEqSampleSize());
            assertTrue(em.getRandomizeParameters());
            em.setEqSampleSize(10);
            assertEquals(10, em.getEqSampleSize());
            assertFalse(em.getRandomizeParameters());
            em.setRandomizeParameters(true);
            assertEquals(0, em.getEqSampleSize());
        }
    }

    /** Records of A and B: (yes, b0) twice, (yes, b1), (no, b1). */
    static DataSet records() {
        DataSet data = new DataSet();
        data.addIntVariable("A", -1);
        data.addIntVariable("B", -1);
        int[][] rows = {{0, 0}, {0, 0}, {0, 1}, {1, 1}};
        for (int r = 0; r < rows.length; r++) {
            data.addEmptyRecord();
            data.setInt(0, r, rows[r][0]);
            data.setInt(1, r, rows[r][1]);
        }
        return data;
    }

    // Learning is refused until the data set is matched to the network again; then it learns
    // every table of the network from the records.
    @Test
    void learnsOnlyTheMatchedNetworkAndUnchangedNodes() {
        try (EM em = new EM(); DataSet data = records(); Network net = network();
                Network other = network()) {
            data.setStateNames(0, new String[] {"yes", "no"});
            data.setStateNames(1, new String[] {"b0", "b1"});
            data.matchNetwork(net);
            double[] before = other.getNodeDefinition("B");
            String again = "; match the data set to this network again";
            assertFails("Dataset was matched to another network" + again,
                    () -> em.learn(data, other));
            assertArrayEquals(before, other.getNodeDefinition("B"));
            net.insertOutcome("A", 0, "maybe");
            assertFails("Dataset column 'A' was matched to outcomes of node 'A' that have changed"
                    + again, () -> em.learn(data, net));
            net.deleteOutcome("A", 0);
            net.deleteNode("B");
            assertEquals(1, net.addNode(18, "C"), "the freed handle is reused");
            assertFails("Dataset column 'B' was matched to a node that is gone" + again,
                    () -> em.learn(data, net));
            net.setNodeId("C", "B");
            net.setOutcomeId("B", 0, "b0");
            net.setOutcomeId("B", 1, "b1");
            net.addArc("A", "B");
            em.learn(data, net);
            assertEquals(0.75, net.getNodeDefinition("A")[0], 1e-12);
            assertEquals(2.0 / 3, net.getNodeDefinition("B")[0], 1e-12);
        }
    }

    @Test
    void refusalsNameTheVariableOrTheReason() {
        try (EM em = new EM(); DataSet data = records(); Network net = network()) {
            assertFails("No node handle was specified for variable A. Did you forget to call "
                    + "setNodeHandle?", () -> em.learn(data, net));
            data.setNodeHandle(0, 0);
            data.setNodeHandle(1, 7);
            assertFails("Variable B has invalid node handle 7", () -> em.learn(data, net));
        }
    }
}
