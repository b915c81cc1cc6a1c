package org.talve.maven.pack;

/** A packing step refused its input or could not write; the message names the file and the problem. */
public class PackException extends Exception {
    private static final long serialVersionUID = 1L;

    public PackException(String message) {
        super(message);
    }

    public PackException(String message, Throwable cause) {
        super(message, cause);
    }
}
