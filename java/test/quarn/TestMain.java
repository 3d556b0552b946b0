package quarn;

import static org.junit.platform.engine.discovery.DiscoverySelectors.selectClasspathRoots;

import java.io.PrintWriter;
import java.net.URISyntaxException;
import java.nio.file.Path;
import java.util.Set;
import org.junit.platform.engine.TestExecutionResult;
import org.junit.platform.launcher.Launcher;
import org.junit.platform.launcher.LauncherDiscoveryRequest;
import org.junit.platform.launcher.TagFilter;
import org.junit.platform.launcher.TestExecutionListener;
import org.junit.platform.launcher.TestIdentifier;
import org.junit.platform.launcher.core.LauncherDiscoveryRequestBuilder;
import org.junit.platform.launcher.core.LauncherFactory;
import org.junit.platform.launcher.listeners.SummaryGeneratingListener;
import org.junit.platform.launcher.listeners.TestExecutionSummary;

/**
 * Runs the JUnit tests beside this class and closes with one plain line "N passed, N failed,
 * N skipped". Arguments: --include-tag=T and --exclude-tag=T. Exits non-zero when a test
 * failed or when no test ran at all.
 */
public final class TestMain {
    private TestMain() {}

    public static void main(String[] args) throws URISyntaxException {
        // The tests are the classes that sit beside this one (a jar or a folder).
        Path tests = Path.of(
                TestMain.class.getProtectionDomain().getCodeSource().getLocation().toURI());
        LauncherDiscoveryRequestBuilder request = LauncherDiscoveryRequestBuilder.request()
                .selectors(selectClasspathRoots(Set.of(tests)));
        for (String arg : args) {
            if (arg.startsWith("--include-tag=")) {
                request.filters(TagFilter.includeTags(arg.substring("--include-tag=".length())));
            } else if (arg.startsWith("--exclude-tag=")) {
                request.filters(TagFilter.excludeTags(arg.substring("--exclude-tag=".length())));
            } else {
                System.err.println("Unknown argument: " + arg);
                System.exit(2);
            }
        }
        LauncherDiscoveryRequest discovery = request.build();
        SummaryGeneratingListener summary = new SummaryGeneratingListener();
        Launcher launcher = LauncherFactory.create();
        launcher.execute(discovery, summary, new Progress());

        TestExecutionSummary result = summary.getSummary();
        PrintWriter out = new PrintWriter(System.out, true);
        if (result.getTotalFailureCount() > 0) {
            result.printFailuresTo(out, 25);
        }
        long passed = result.getTestsSucceededCount();
        long failed = result.getTestsFailedCount() + result.getContainersFailedCount();
        long skipped = result.getTestsSkippedCount() + result.getTestsAbortedCount();
        out.println(passed + " passed, " + failed + " failed, " + skipped + " skipped");
        System.exit(failed > 0 || passed == 0 ? 1 : 0);
    }

    private static final class Progress implements TestExecutionListener {
        @Override
        public void executionFinished(TestIdentifier test, TestExecutionResult result) {
            if (!test.isTest()) {
                return;
            }
            String status;
            switch (result.getStatus()) {
                case SUCCESSFUL:
                    status = "ok     ";
                    break;
                case ABORTED:
                    status = "skipped";
                    break;
                default:
                    status = "FAILED ";
                    break;
            }
            System.out.println(status + " " + test.getLegacyReportingName() + "  ["
                    + test.getUniqueId().replaceAll(".*\\[class:quarn\\.([^\\]]*)\\].*", "$1")
                    + "]");
        }

        @Override
        public void executionSkipped(TestIdentifier test, String reason) {
            if (test.isTest()) {
                System.out.println("skipped " + test.getDisplayName() + ": " + reason);
            }
        }
    }
}
