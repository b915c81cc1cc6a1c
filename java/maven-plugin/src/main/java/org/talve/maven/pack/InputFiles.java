package org.talve.maven.pack;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;

/** Whole regular files of a bounded size: folders, devices and pipes are refused. */
final class InputFiles {
    private InputFiles() {
    }

    static byte[] read(Path path, long limit) throws PackException {
        if (!Files.isRegularFile(path)) throw new PackException(path + ": cannot be read: not a regular file");
        try {
            long size = Files.size(path);
            if (size > limit) {
                throw new PackException(path + ": too large (" + size + " bytes, at most " + limit + ")");
            }
            return Files.readAllBytes(path);
        } catch (IOException e) {
            throw new PackException(path + ": cannot be read: " + e.getMessage(), e);
        }
    }
}
