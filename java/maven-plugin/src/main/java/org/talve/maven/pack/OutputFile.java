package org.talve.maven.pack;

import java.io.IOException;
import java.nio.channels.FileChannel;
import java.nio.file.AtomicMoveNotSupportedException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.PosixFileAttributeView;
import java.nio.file.attribute.PosixFilePermissions;

/**
 * An output written under a private name beside its final one and renamed
 * over it once complete: what had the name before (a link planted there
 * included) is replaced, never written through, and a failed output leaves
 * nothing behind. The file is made executable: installers and packed
 * runtimes are programs.
 */
final class OutputFile implements AutoCloseable {
    private final Path target;
    private final Path partial;
    private final FileChannel channel;
    private boolean committed;

    private OutputFile(Path target, Path partial, FileChannel channel) {
        this.target = target;
        this.partial = partial;
        this.channel = channel;
    }

    static OutputFile open(Path target) throws PackException {
        Path folder = target.toAbsolutePath().getParent();
        try {
            Files.createDirectories(folder);
            Path partial = Files.createTempFile(folder, target.getFileName() + ".partial-", "");
            return new OutputFile(target, partial, FileChannel.open(partial, StandardOpenOption.WRITE));
        } catch (IOException e) {
            throw new PackException("cannot create " + target + ": " + e.getMessage(), e);
        }
    }

    FileChannel channel() {
        return channel;
    }

    void commit() throws PackException {
        try {
            channel.force(false);
            channel.close();
            PosixFileAttributeView posix = Files.getFileAttributeView(partial, PosixFileAttributeView.class);
            if (posix != null) posix.setPermissions(PosixFilePermissions.fromString("rwxr-xr-x"));
            try {
                Files.move(partial, target, StandardCopyOption.ATOMIC_MOVE, StandardCopyOption.REPLACE_EXISTING);
            } catch (AtomicMoveNotSupportedException e) {
                Files.move(partial, target, StandardCopyOption.REPLACE_EXISTING);
            }
            committed = true;
        } catch (IOException e) {
            throw new PackException(target + ": cannot be written: " + e.getMessage(), e);
        }
    }

    @Override
    public void close() {
        try {
            channel.close();
            if (!committed) Files.deleteIfExists(partial);
        } catch (IOException ignored) {
            // Nothing better to do with a private file that cannot be removed.
        }
    }
}
