package org.talve.installer;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.AtomicMoveNotSupportedException;
import java.nio.file.FileVisitResult;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.SimpleFileVisitor;
import java.nio.file.StandardCopyOption;
import java.nio.file.attribute.BasicFileAttributes;
import java.nio.file.attribute.PosixFileAttributeView;
import java.util.Map;
import java.util.Optional;

/**
 * Runtime reuse: a product keeps the runtime it was installed with in
 * {@code <home>/_jvm} and announces {@code <home>} in a product record, a
 * file ending in {@code .talve} whose first line is the home's absolute path
 * ended by a line feed. A later installer that searches for installed
 * runtimes finds the record and, once its checking jar accepts the runtime,
 * runs on it instead of unpacking its own.
 *
 * <p>The record folder is the one the launcher searches:
 * {@code KORVU_INVENTORY_LOCATION} when it is set, otherwise
 * {@code CommonProgramFiles/talve} ({@code /var/lib/talve} on systems where
 * that variable is not set, {@code ALLUSERSPROFILE\talve} on Windows).
 */
public final class ProductRecords {
    /** The folder in a product home that holds its runtime. */
    public static final String RUNTIME_FOLDER = "_jvm";
    /** The file that every runtime the launcher uses must hold. */
    public static final String RUNTIME_PROPERTIES = "jvm.properties";
    /** The ending of a product record's name. */
    public static final String RECORD_SUFFIX = ".talve";
    /** The launcher passes over a runtime folder whose path has this many bytes or more. */
    public static final int LONGEST_RUNTIME_PATH = 258;
    /** The launcher passes over a record whose first line has more bytes than this. */
    public static final int LONGEST_RECORD_LINE = 2046;

    private final Map<String, String> environment;
    private final boolean windows;

    ProductRecords(Map<String, String> environment, boolean windows) {
        this.environment = environment;
        this.windows = windows;
    }

    /** The records of this process's environment. */
    public static ProductRecords forThisSystem() {
        return new ProductRecords(System.getenv(), java.io.File.separatorChar == '\\');
    }

    /** The folder where records are written and searched first. */
    public Path recordDirectory() {
        String inventory = environment.get("KORVU_INVENTORY_LOCATION");
        if (inventory != null && !inventory.isEmpty()) return Paths.get(inventory);
        String common = environment.get("CommonProgramFiles");
        if (common != null && !common.isEmpty()) return Paths.get(common, "talve");
        if (!windows) return Paths.get("/var/lib/talve");
        String allUsers = environment.get("ALLUSERSPROFILE");
        if (allUsers != null && !allUsers.isEmpty()) return Paths.get(allUsers, "talve");
        throw new MissingLauncherVariableException("CommonProgramFiles", "it names the folder of product records");
    }

    /** The record file of a product. */
    public Path recordFile(String product) {
        if (product.isEmpty() || product.indexOf('/') >= 0 || product.indexOf('\\') >= 0 || product.indexOf(':') >= 0
                || product.equals(".") || product.equals(".."))
            throw new IllegalArgumentException("a product name must be a plain file name: " + product);
        return recordDirectory().resolve(product + RECORD_SUFFIX);
    }

    /**
     * Copies a runtime into {@code <home>/_jvm}: links stay links (a link into
     * the runtime itself then points into the copy), executable bits and
     * times are kept; an absolute link out of the runtime (a runtime made of
     * links to a system's JDK) leads to the same place from the copy and stays
     * as it is. A relative link that leads out of the runtime, which would
     * lead elsewhere from the copy or nowhere, and anything that is neither a
     * file, a folder nor a link (a pipe, a device, on which the copy would
     * wait for ever) are refused, as {@code talve-pack runtime} refuses them. The copy is made beside {@code _jvm} and renamed when
     * complete; an earlier {@code _jvm} is replaced. Nothing is copied when
     * the runtime already is that folder (a reused runtime).
     *
     * @return the copy, {@code <home>/_jvm}
     * @throws IOException when the runtime has no {@value #RUNTIME_PROPERTIES}, holds such an
     *     entry (the message names it; nothing is left of the copy) or cannot be copied
     */
    public static Path copyRuntime(Path runtime, Path home) throws IOException {
        if (!Files.isRegularFile(runtime.resolve(RUNTIME_PROPERTIES)))
            throw new IOException("not a runtime the launcher can use (no " + RUNTIME_PROPERTIES + "): " + runtime);
        Path source = runtime.toRealPath();
        Path target = home.toAbsolutePath().normalize().resolve(RUNTIME_FOLDER);
        if (Files.exists(target) && Files.isSameFile(source, target)) return target;
        Files.createDirectories(target.getParent());
        Path fresh = target.resolveSibling(RUNTIME_FOLDER + ".new-" + Long.toHexString(System.nanoTime()));
        try {
            Files.walkFileTree(source, new TreeCopy(source, fresh));
            Path old = null;
            if (Files.exists(target, LinkOption.NOFOLLOW_LINKS)) {
                old = target.resolveSibling(RUNTIME_FOLDER + ".old-" + Long.toHexString(System.nanoTime()));
                Files.move(target, old);
            }
            Files.move(fresh, target);
            if (old != null) deleteTree(old);
        } catch (IOException e) {
            deleteTree(fresh);
            throw e;
        }
        return target;
    }

    /**
     * Writes the record of a product whose home is {@code home}: its absolute
     * path, no separator at the end, a line feed.
     *
     * @throws IllegalArgumentException for a home the launcher could not
     *     find through a record (a line end in its path, a path too long)
     */
    public Path writeRecord(String product, Path home) throws IOException {
        String line = home.toAbsolutePath().normalize().toString();
        if (line.indexOf('\n') >= 0 || line.indexOf('\r') >= 0)
            throw new IllegalArgumentException("a product home with a line end in its path cannot be recorded: " + line);
        ExactUtf8.check(line, "the product home");
        String runtimePath = line + (windows ? "\\" : "/") + RUNTIME_FOLDER;
        if (runtimePath.getBytes(StandardCharsets.UTF_8).length > LONGEST_RUNTIME_PATH
                || line.getBytes(StandardCharsets.UTF_8).length > LONGEST_RECORD_LINE)
            throw new IllegalArgumentException("the launcher passes over a runtime path this long: " + runtimePath);
        Path record = recordFile(product);
        Files.createDirectories(record.getParent());
        // A launcher that searches meanwhile sees the old record or the new one, never half of one.
        Path fresh = record.resolveSibling(record.getFileName() + ".new-" + Long.toHexString(System.nanoTime()));
        Files.write(fresh, (line + "\n").getBytes(StandardCharsets.UTF_8));
        try {
            Files.move(fresh, record, StandardCopyOption.REPLACE_EXISTING, StandardCopyOption.ATOMIC_MOVE);
        } catch (AtomicMoveNotSupportedException e) {
            Files.move(fresh, record, StandardCopyOption.REPLACE_EXISTING);
        } finally {
            Files.deleteIfExists(fresh);
        }
        return record;
    }

    /** The home a product's record names, if there is a record. */
    public Optional<Path> readRecord(String product) throws IOException {
        Path record = recordFile(product);
        if (!Files.isRegularFile(record)) return Optional.empty();
        String text = new String(Files.readAllBytes(record), StandardCharsets.UTF_8);
        int end = text.indexOf('\n');
        return Optional.of(Paths.get(end < 0 ? text : text.substring(0, end)));
    }

    /** Removes a product's record (an uninstallation); true when there was one. */
    public boolean removeRecord(String product) throws IOException {
        return Files.deleteIfExists(recordFile(product));
    }

    /** Removes a directory tree, links as links; nothing when it is not there. */
    static void deleteTree(Path root) throws IOException {
        if (!Files.exists(root, LinkOption.NOFOLLOW_LINKS)) return;
        Files.walkFileTree(root, new SimpleFileVisitor<Path>() {
            @Override
            public FileVisitResult visitFile(Path file, BasicFileAttributes attributes) throws IOException {
                Files.delete(file);
                return FileVisitResult.CONTINUE;
            }

            @Override
            public FileVisitResult postVisitDirectory(Path directory, IOException failure) throws IOException {
                if (failure != null) throw failure;
                Files.delete(directory);
                return FileVisitResult.CONTINUE;
            }
        });
    }

    private static final class TreeCopy extends SimpleFileVisitor<Path> {
        private final Path source;
        private final Path target;

        TreeCopy(Path source, Path target) {
            this.source = source;
            this.target = target;
        }

        private Path targetOf(Path path) {
            return target.resolve(source.relativize(path).toString());
        }

        @Override
        public FileVisitResult preVisitDirectory(Path directory, BasicFileAttributes attributes) throws IOException {
            Files.createDirectory(targetOf(directory));
            return FileVisitResult.CONTINUE;
        }

        @Override
        public FileVisitResult visitFile(Path file, BasicFileAttributes attributes) throws IOException {
            Path copy = targetOf(file);
            if (attributes.isSymbolicLink()) {
                Path link = Files.readSymbolicLink(file);
                if (link.isAbsolute()) {
                    if (link.normalize().startsWith(source)) link = copy.getParent().relativize(targetOf(link.normalize()));
                } else if (leavesTree(file, link)) {
                    throw new IOException("cannot copy " + file + ": it is a link to " + link
                        + ", outside the runtime; copy the runtime with its links resolved or remove the link");
                }
                Files.createSymbolicLink(copy, link);
            } else if (attributes.isRegularFile()) {
                Files.copy(file, copy, StandardCopyOption.COPY_ATTRIBUTES, LinkOption.NOFOLLOW_LINKS);
            } else {
                throw new IOException("cannot copy " + file + ": it is neither a file, a folder nor a link");
            }
            return FileVisitResult.CONTINUE;
        }

        // Written as it is and as it resolves now: a ".." through another link
        // can lead out where the written path stays inside.
        private boolean leavesTree(Path file, Path link) {
            if (!file.getParent().resolve(link).normalize().startsWith(source)) return true;
            try {
                return !file.toRealPath().startsWith(source);
            } catch (IOException dangling) {
                return false;
            }
        }

        // A folder without write permission is given its own only once it is filled.
        @Override
        public FileVisitResult postVisitDirectory(Path directory, IOException failure) throws IOException {
            if (failure != null) throw failure;
            Path copy = targetOf(directory);
            PosixFileAttributeView from = Files.getFileAttributeView(directory, PosixFileAttributeView.class);
            PosixFileAttributeView to = Files.getFileAttributeView(copy, PosixFileAttributeView.class);
            if (from != null && to != null) to.setPermissions(from.readAttributes().permissions());
            Files.setLastModifiedTime(copy, Files.getLastModifiedTime(directory));
            return FileVisitResult.CONTINUE;
        }
    }
}
