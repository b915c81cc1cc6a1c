package org.talve.installer;

import static org.junit.jupiter.api.Assertions.assertEquals;

import org.junit.jupiter.api.Test;

class ExitCodeTest {
    @Test
    void restartIsTheCodeTheLauncherRestartsOn() {
        assertEquals(4, ExitCode.RESTART);
    }
}
