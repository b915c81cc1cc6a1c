package org.talve.maven.pack;

import java.nio.file.Paths;

/** Packs a runtime in a JVM of its own, started in the locale a test chooses. */
public final class PackInLocale {
    private PackInLocale() {
    }

    public static void main(String[] arguments) throws Exception {
        try {
            RuntimeArchive.write(Paths.get(arguments[0]), Paths.get(arguments[1]), Paths.get(arguments[2]));
        } catch (PackException e) {
            System.out.println(e.getMessage());
            System.exit(3);
        }
    }
}
