package quarn;

import static quarn.Models.assertArrayNear;

import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** A dynamic network read from a file: plate nodes give one row of beliefs per time slice. */
class DynamicNetworkTest {
    @TempDir Path dir;

    static final int SLICES = 5;
    static final String MODEL = "<?xml version=\"1.0\"?>\n<quarn version=\"1.0\" id=\"U\">\n"
            + "<nodes><cpt id=\"Rain\" dynamic=\"plate\"><state id=\"yes\"/><state id=\"no\"/>"
            + "<probabilities>0.5 0.5</probabilities></cpt>\n"
            + "<cpt id=\"Umbrella\" dynamic=\"plate\"><state id=\"yes\"/><state id=\"no\"/>"
            + "<parents>Rain</parents><probabilities>0.9 0.1 0.2 0.8</probabilities></cpt>\n"
            + "</nodes>\n<dynamic numslices=\"" + SLICES + "\"><cpt id=\"Rain\" order=\"1\">"
            + "<parents>Rain</parents><probabilities>0.7 0.3 0.3 0.7</probabilities></cpt>"
            + "</dynamic></quarn>\n";

    @Test
    void plateNodeValuesHoldOneRowPerSlice() throws Exception {
        Path file = Files.write(dir.resolve("rain.xqnl"), MODEL.getBytes(StandardCharsets.UTF_8));
        try (Network net = new Network()) {
            net.readFile(file.toString());
            net.setEvidence("Umbrella", "yes");
            net.updateBeliefs();
            // Slice 0 conditions on the umbrella; later slices only predict forwards.
            double[] rain = new double[2 * SLICES];
            double[] umbrella = new double[2 * SLICES];
            double p = 0.5 * 0.9 / (0.5 * 0.9 + 0.5 * 0.2);
            for (int t = 0; t < SLICES; t++) {
                rain[2 * t] = p;
                rain[2 * t + 1] = 1 - p;
                double u = t == 0 ? 1 : 0.9 * p + 0.2 * (1 - p);
                umbrella[2 * t] = u;
                umbrella[2 * t + 1] = 1 - u;
                p = 0.7 * p + 0.3 * (1 - p);
            }
            assertArrayNear(rain, net.getNodeValue("Rain"), 1e-12);
            assertArrayNear(umbrella, net.getNodeValue("Umbrella"), 1e-12);
        }
    }
}
