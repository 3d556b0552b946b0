package quarn;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class DiagNetworkTest {
    @TempDir Path dir;

    // F faulty with 0.1 (two faulty outcomes of G tie at 0.1 too); T1 and T2 test F.
    static final String MODEL = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            + "<quarn version=\"1.0\" id=\"Diag\"><nodes>\n"
            + "<cpt id=\"F\" diagtype=\"target\"><state id=\"faulty\" fault=\"true\"/>"
            + "<state id=\"ok\"/><probabilities>0.1 0.9</probabilities></cpt>\n"
            + "<cpt id=\"G\" diagtype=\"target\"><state id=\"g0\" fault=\"true\"/>"
            + "<state id=\"g1\" fault=\"true\"/><state id=\"g2\"/>"
            + "<probabilities>0.05 0.05 0.9</probabilities></cpt>\n"
            + "<cpt id=\"T1\" diagtype=\"observation\" ranked=\"true\"><state id=\"pos\"/>"
            + "<state id=\"neg\"/><parents>F</parents>"
            + "<probabilities>0.9 0.1 0.1 0.9</probabilities></cpt>\n"
            + "<cpt id=\"T2\" diagtype=\"observation\" ranked=\"true\"><state id=\"pos\"/>"
            + "<state id=\"neg\"/><parents>F G</parents>"
            + "<probabilities>0.6 0.4 0.6 0.4 0.6 0.4 0.4 0.6 0.4 0.6 0.4 0.6</probabilities>"
            + "</cpt>\n</nodes></quarn>\n";

    Network read(String model) throws Exception {
        Path file = Files.write(dir.resolve("diag.xqnl"), model.getBytes(StandardCharsets.UTF_8));
        Network net = new Network();
        net.readFile(file.toString());
        return net;
    }

    @Test
    void creationPursuesTheMostLikelyFaultAndRanksItsTests() throws Exception {
        try (Network net = read(MODEL); DiagNetwork diag = new DiagNetwork(net)) {
            assertEquals(0, diag.getPursuedFault());
            assertEquals(0, diag.getFaultIndex("F", "faulty"));
            assertArrayEquals(new String[] {"T1", "T2"}, diag.getUnperformedObservationIds());
            DiagResults r = diag.update(0);
            assertEquals("T1", net.getNodeId(r.observations[0].node));
            assertEquals(0.450071, r.observations[0].entropy, 1e-6);
            assertTrue(r.faults[0].isPursued);
            assertEquals(2, r.faults[2].index);
            assertEquals(0.05, r.faults[1].probability, 1e-12);
            diag.instantiateObservation("T1", "neg");
            assertEquals(1, diag.getUnperformedTestCount());
            diag.releaseObservation("T1");
            assertThrows(QUARNException.class, () -> diag.releaseObservation(net.getNode("T1")));
            assertEquals(2, diag.getUnperformedTestCount()); // never listed twice
        }
    }

    @Test
    void refusalsNameTheOperation() throws Exception {
        // The unknown attribute leaves a warning in the log that no later exception may carry.
        try (Network net = read(MODEL.replace("<cpt id=\"T1\"", "<cpt colour=\"red\" id=\"T1\""));
                DiagNetwork diag = new DiagNetwork(net)) {
            net.setMandatory("T1", true);
            assertEquals("QUARN error -2 in function ComputeTestStrengths. Logged information: "
                    + "Observation 'T1' is mandatory and has no evidence; instantiate it before "
                    + "ranking tests\n",
                    assertThrows(QUARNException.class, () -> diag.update(0)).getMessage());
            String held = "The network is used by a ValueOfInfo or DiagNetwork object: close it "
                    + "before ";
            Object[][] cases = {
                {held + "deleting a node", (Runnable) () -> net.deleteNode("G")},
                {held + "reading a file", (Runnable) () -> net.readFile("other.xqnl")},
                {held + "changing a node's type", (Runnable) () -> net.setNodeType("G", 17)},
                {held + "deleting an outcome", (Runnable) () -> net.deleteOutcome("G", 2)},
                {held + "inserting an outcome", (Runnable) () -> net.insertOutcome("G", 0, "g")},
                {"Invalid fault index 3; valid indices are 0..2", (Runnable) () -> diag.getFault(3)},
                {"Invalid fault index -1; valid indices are 0..2",
                    (Runnable) () -> diag.getFaultNodeId(-1)},
                {"in function SetPursuedFaults", (Runnable) () -> diag.setPursuedFaults(new int[0])},
                {"in function FindFault", (Runnable) () -> diag.getFaultIndex("F", "ok")},
                {"Invalid node handle: 99", (Runnable) () -> diag.releaseObservation(99)},
                {"Invalid outcome index 5", (Runnable) () -> diag.instantiateObservation(2, 5)},
                {"Invalid node id: X", (Runnable) () -> diag.instantiateObservation("X", 0)},
            };
            for (Object[] c : cases) {
                String message = assertThrows(QUARNException.class, ((Runnable) c[1])::run)
                        .getMessage();
                assertTrue(message.contains((String) c[0]), message);
            }
            assertThrows(QUARNException.class, net::close); // still in use
            assertEquals("g1", diag.getFaultOutcomeId(2));
            assertEquals(4, net.getNodeCount());
        }
        try (Network empty = new Network(); DiagNetwork none = new DiagNetwork(empty)) {
            assertEquals(-2, none.findMostLikelyFault());
            assertEquals(-2, none.getPursuedFault());
            String message = assertThrows(QUARNException.class, () -> none.update(0)).getMessage();
            assertTrue(message.contains("in function ComputeTestStrengths"), message);
            assertTrue(assertThrows(QUARNException.class, () -> none.getFault(0)).getMessage()
                    .endsWith("valid indices are 0..-1"));
        }
    }

    @Test
    @Tag("isolated")
    void nullClosedAndDeletedReferencesRaise() throws Exception {
        assertThrows(QUARNException.class, () -> new DiagNetwork(null));
        Network closed = new Network();
        closed.close();
        assertThrows(QUARNException.class, () -> new DiagNetwork(closed));
        try (Network net = read(MODEL)) {
            DiagNetwork diag = new DiagNetwork(net);
            diag.close();
            assertThrows(QUARNException.class, () -> diag.update(0));
            assertThrows(QUARNException.class, () -> diag.setPursuedFaults(null));
            net.deleteNode("G"); // the network is open again; its faults are gone
            try (DiagNetwork again = new DiagNetwork(net)) {
                again.setPursuedFaults(new int[] {0});
                // The diagnosis keeps handles: its fault may not go while it is open.
                assertThrows(QUARNException.class, () -> net.deleteNode("F"));
                assertEquals("F", again.getFaultNodeId(0));
            }
        }
    }
}
