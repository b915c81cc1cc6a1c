package org.talve.maven.pack;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFileAttributeView;
import java.nio.file.attribute.PosixFilePermission;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.TreeMap;

/**
 * A runtime folder as the archive carries it: every folder before what it
 * holds, the names of each folder in byte order of their UTF-8 form, links
 * that stay inside kept as links (written another way, rewritten relative),
 * a link leading out refused. A "jvm.properties" naming the Java launcher
 * is added when the folder has none.
 */
final class RuntimeTree {
    static final int MAX_PATH_LENGTH = 4096;
    static final String PROPERTIES_NAME = "jvm.properties";
    // Far deeper than any runtime; a bound on what a hostile folder can make the walk do.
    private static final int MAX_FOLDER_DEPTH = 64;

    enum Type {
        DIRECTORY(1), FILE(2), SYMLINK(3);

        final int code;

        Type(int code) {
            this.code = code;
        }
    }

    static final class Entry {
        Type type;
        String archivePath;
        Path source;           // files read from the folder
        byte[] content;        // files made up by the packer
        boolean executable;
        String linkTarget;
    }

    final List<Entry> entries = new ArrayList<>();
    boolean windowsRuntime;

    private final Path root;

    private RuntimeTree(Path root) {
        this.root = root;
    }

    /** Only a line feed: the launcher keeps a carriage return in the value. */
    static String defaultJvmProperties(boolean windowsRuntime) {
        return windowsRuntime ? "java.bin.path=bin/java.exe\n" : "java.bin.path=bin/java\n";
    }

    static RuntimeTree collect(Path runtimeDir) throws PackException {
        if (!Files.isDirectory(runtimeDir)) {
            throw new PackException("runtime folder " + runtimeDir + " does not exist or is not a folder");
        }
        Path root;
        try {
            root = runtimeDir.toRealPath();
        } catch (IOException e) {
            throw new PackException("cannot read the runtime folder " + runtimeDir + ": " + e.getMessage(), e);
        }
        RuntimeTree tree = new RuntimeTree(root);
        tree.walkFolder(runtimeDir, "", 0);

        tree.windowsRuntime = Files.isRegularFile(runtimeDir.resolve("bin").resolve("java.exe"));
        if (Files.exists(runtimeDir.resolve(PROPERTIES_NAME))) return tree;
        if (!tree.windowsRuntime && !Files.isRegularFile(runtimeDir.resolve("bin").resolve("java"))) {
            throw new PackException("runtime folder " + runtimeDir
                    + " has neither bin/java nor bin/java.exe, and no jvm.properties naming its launcher");
        }
        Entry properties = new Entry();
        properties.type = Type.FILE;
        properties.archivePath = PROPERTIES_NAME;
        properties.content = defaultJvmProperties(tree.windowsRuntime).getBytes(StandardCharsets.UTF_8);
        tree.entries.add(properties);
        return tree;
    }

    static int compareUtf8(String a, String b) {
        byte[] x = a.getBytes(StandardCharsets.UTF_8);
        byte[] y = b.getBytes(StandardCharsets.UTF_8);
        for (int i = 0; i < Math.min(x.length, y.length); ++i) {
            int d = (x[i] & 0xff) - (y[i] & 0xff);
            if (d != 0) return d;
        }
        return x.length - y.length;
    }

    private void walkFolder(Path folder, String prefix, int depth) throws PackException {
        if (depth > MAX_FOLDER_DEPTH) throw new PackException("folders nest too deeply at " + folder);
        // The listed paths themselves, never a name turned back into a path:
        // in a locale that cannot spell a name, that would be another file.
        Map<String, Path> children = new TreeMap<>(RuntimeTree::compareUtf8);
        try (DirectoryStream<Path> listing = Files.newDirectoryStream(folder)) {
            for (Path child : listing) children.put(FileNames.nameOf(child), child);
        } catch (IOException e) {
            throw new PackException("cannot read the folder " + folder + ": " + e.getMessage(), e);
        }
        for (Map.Entry<String, Path> child : children.entrySet()) {
            String archivePath = prefix + child.getKey();
            checkCarriable(child.getValue(), child.getKey(), archivePath);
            addChild(child.getValue(), archivePath, depth);
        }
    }

    private static void checkCarriable(Path child, String name, String archivePath) throws PackException {
        if (archivePath.getBytes(StandardCharsets.UTF_8).length > MAX_PATH_LENGTH) {
            throw new PackException("cannot carry " + child + ": its path is longer than " + MAX_PATH_LENGTH + " bytes");
        }
        if (EntryPaths.hasControlCharacter(name)) {
            throw new PackException("cannot carry " + EntryPaths.printablePath(child.toString())
                    + ": its name holds a control character (a line feed?)");
        }
        // The unpacker reads a backslash as a separator: a\b would come out as a/b.
        if (name.indexOf('\\') >= 0 || !EntryPaths.isSafeEntryPath(archivePath)) {
            throw new PackException("cannot carry " + child + ": a name with \"\\\" or \":\" cannot be unpacked everywhere");
        }
    }

    private void addChild(Path child, String archivePath, int depth) throws PackException {
        if (Files.isSymbolicLink(child)) {
            Path target;
            try {
                target = Files.readSymbolicLink(child);
            } catch (IOException e) {
                throw new PackException("cannot read the link " + child + ": " + e.getMessage(), e);
            }
            String targetText = FileNames.textOf(target, child.getParent());
            if (!EntryPaths.isSafeLinkTarget(archivePath, targetText)) targetText = insideTarget(child, archivePath);
            if (targetText == null) throw refuseLink(child, target);
            Entry link = new Entry();
            link.type = Type.SYMLINK;
            link.archivePath = archivePath;
            link.linkTarget = targetText;
            entries.add(link);
            return;
        }
        Entry entry = new Entry();
        entry.archivePath = archivePath;
        if (Files.isDirectory(child, LinkOption.NOFOLLOW_LINKS)) {
            entry.type = Type.DIRECTORY;
            entries.add(entry);
            walkFolder(child, archivePath + "/", depth + 1);
            return;
        }
        if (Files.isRegularFile(child, LinkOption.NOFOLLOW_LINKS)) {
            entry.type = Type.FILE;
            entry.source = child;
            entry.executable = isExecutable(child);
            entries.add(entry);
            return;
        }
        throw new PackException("cannot carry " + child + ": it is neither a file, a folder nor a link");
    }

    // Without POSIX modes (a Windows host) the system's own rule holds: the
    // program suffixes are what its C runtime reports as executable.
    private static boolean isExecutable(Path file) throws PackException {
        PosixFileAttributeView posix = Files.getFileAttributeView(file, PosixFileAttributeView.class, LinkOption.NOFOLLOW_LINKS);
        if (posix == null) {
            String name = file.getFileName().toString().toLowerCase(Locale.ROOT);
            return name.endsWith(".exe") || name.endsWith(".com") || name.endsWith(".bat") || name.endsWith(".cmd");
        }
        try {
            return posix.readAttributes().permissions().contains(PosixFilePermission.OWNER_EXECUTE);
        } catch (IOException e) {
            throw new PackException("cannot read " + file + ": " + e.getMessage(), e);
        }
    }

    /** A link written absolute or through ".." that still leads into the tree, as a relative target; else null. */
    private String insideTarget(Path link, String archivePath) throws PackException {
        Path resolved;
        try {
            resolved = link.toRealPath();
        } catch (IOException e) {
            return null;
        }
        if (!resolved.startsWith(root)) return null;
        Path relative = root.relativize(resolved);
        StringBuilder text = new StringBuilder();
        for (int i = 0; i < archivePath.length(); ++i) {
            if (archivePath.charAt(i) == '/') text.append("../");
        }
        String relativeText = FileNames.textOf(relative, root);
        if (!relativeText.isEmpty()) {
            text.append(relativeText);
        } else if (text.length() == 0) {
            text.append('.');
        } else {
            text.setLength(text.length() - 1);
        }
        return EntryPaths.isSafeLinkTarget(archivePath, text.toString()) ? text.toString() : null;
    }

    // Following a link out of the tree would carry whatever it reaches;
    // carrying the link itself would make a runtime that depends on the packing machine.
    private static PackException refuseLink(Path link, Path target) {
        String shownTarget = EntryPaths.printablePath(target.toString());
        if (!Files.exists(link)) {
            return new PackException("cannot carry " + link + ": it is a link to " + shownTarget + ", which does not exist");
        }
        return new PackException("cannot carry " + link + ": it is a link to " + shownTarget
                + ", outside the runtime folder; copy the runtime with its links resolved (cp -rL) or remove the link");
    }
}
