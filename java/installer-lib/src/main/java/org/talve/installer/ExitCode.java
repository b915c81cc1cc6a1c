package org.talve.installer;

/**
 * Exit codes an installer jar ends with. The launcher ends with the same code;
 * {@link #RESTART} also asks it to restart the machine once it has cleaned up.
 */
public final class ExitCode {
    /** The installation succeeded. */
    public static final int SUCCESS = 0;
    /** The installation failed. */
    public static final int FAILURE = 1;
    /** The installation succeeded and the machine must restart to finish it. */
    public static final int RESTART = 4;

    private ExitCode() {
    }
}
