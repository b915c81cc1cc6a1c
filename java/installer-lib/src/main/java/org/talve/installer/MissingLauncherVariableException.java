package org.talve.installer;

/**
 * The jar is not running under the launcher, or the launcher did not set a
 * variable that this run needs. The message names the variable.
 */
public final class MissingLauncherVariableException extends IllegalStateException {
    private static final long serialVersionUID = 1L;

    private final String variable;

    MissingLauncherVariableException(String variable, String why) {
        super("The environment variable " + variable + " is not set: " + why);
        this.variable = variable;
    }

    /** The name of the variable that is missing. */
    public String variable() {
        return variable;
    }
}
