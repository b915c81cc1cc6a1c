package org.talve.maven;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import org.apache.maven.plugin.MojoFailureException;
import org.junit.jupiter.api.Test;
import org.talve.maven.pack.MergedJar;

class InstallerJarTest {
    private static final long NEW_YEAR_2026 = 1_767_225_600_000L;

    @Test
    void theOutputTimestampIsReadAsMavenWritesIt() throws Exception {
        Object[][] cases = {
            {"2026-01-01T00:00:00Z", NEW_YEAR_2026},
            {"2026-01-01T02:00:00+02:00", NEW_YEAR_2026},
            {"1767225600", NEW_YEAR_2026},
            {" 1767225600 ", NEW_YEAR_2026},
            {null, MergedJar.DEFAULT_TIME},
            {"", MergedJar.DEFAULT_TIME},
            // One character is how Maven switches reproducible times off.
            {"a", MergedJar.DEFAULT_TIME},
        };
        for (Object[] c : cases) assertEquals((long) c[1], InstallerJar.entryTime((String) c[0]), String.valueOf(c[0]));
    }

    @Test
    void aTimestampThatIsNoTimeStopsTheBuildNamingTheProperty() {
        for (String bad : new String[] {"2026-01-01", "yesterday", "2026-13-01T00:00:00Z"}) {
            String message = assertThrows(MojoFailureException.class, () -> InstallerJar.entryTime(bad)).getMessage();
            assertTrue(message.startsWith("Property 'project.build.outputTimestamp': '" + bad + "'"), message);
        }
    }
}
