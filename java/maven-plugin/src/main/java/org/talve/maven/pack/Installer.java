package org.talve.maven.pack;

import java.io.IOException;
import java.io.InputStream;
import java.nio.ByteBuffer;
import java.nio.channels.FileChannel;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/**
 * Writes an installer: the launcher padded to a multiple of 1,024 bytes,
 * the bootstrap table and the payloads, the same bytes as
 * "talve-pack create" writes for the same inputs.
 */
public final class Installer {
    /** The payloads, in the order of their rows and of their bytes in the file. */
    public enum Payload {
        SPLASH("splash", null), RUNTIME("jvm", null), JAR("jar", null), DATA("data", null), USAGE("usage", null),
        CHECK_JAR("jvmcheck", "check.jar"), REQUIREMENTS("require", "req.txt"), ARGUMENTS("args", null);

        final String id;
        // The launcher runs the checking jar only as check.jar with req.txt,
        // so those two are stored under these names whatever the files are called.
        final String fixedName;

        Payload(String id, String fixedName) {
            this.id = id;
            this.fixedName = fixedName;
        }
    }

    private static final long TABLE_LIMIT = 0xffffffffL;
    private static final String ENDED_EARLY = "it ended early (did it change while the installer was written?)";

    private final Path[] files = new Path[Payload.values().length];
    private final String[] names = new String[Payload.values().length];
    private byte[] launcher;
    private String launcherName;
    private Long runtimeSize;
    private boolean allowJavaArgs;
    private boolean searchInstalledRuntime;
    private boolean console;
    private String extraSpaceMb = "0";
    private boolean launcherSignatureLeftOut;
    private WindowsResources windowsResources;

    public Installer launcher(byte[] bytes, String name) {
        launcher = bytes;
        launcherName = name;
        return this;
    }

    public Installer launcher(Path file) throws PackException {
        return launcher(InputFiles.read(file, TABLE_LIMIT), file.toString());
    }

    /** A payload stored under the file's own name (check.jar and req.txt excepted). */
    public Installer payload(Payload payload, Path file) {
        return payload(payload, file, null);
    }

    /** A payload stored under storedName, null for the file's own name. */
    public Installer payload(Payload payload, Path file, String storedName) {
        files[payload.ordinal()] = file;
        names[payload.ordinal()] = storedName;
        return this;
    }

    /** The bytes the runtime needs once unpacked; by default read from the packed runtime. */
    public Installer runtimeSize(Long bytes) {
        runtimeSize = bytes;
        return this;
    }

    public Installer allowJavaArgs(boolean allow) {
        allowJavaArgs = allow;
        return this;
    }

    public Installer searchInstalledRuntime(boolean search) {
        searchInstalledRuntime = search;
        return this;
    }

    /** Runs the installer as if -console were given: its output and prompts on the console. */
    public Installer console(boolean onTheConsole) {
        console = onTheConsole;
        return this;
    }

    public Installer extraSpaceMb(long megabytes) throws PackException {
        String text = Long.toString(megabytes);
        if (megabytes < 0 || text.length() > 9) {
            throw new PackException("extra space takes a number of megabytes from 0 to 999999999, not " + megabytes);
        }
        extraSpaceMb = text;
        return this;
    }

    /** Icon, version information and execution level of a Windows installer; null for the launcher's own. */
    public Installer windowsResources(WindowsResources resources) {
        windowsResources = resources;
        return this;
    }

    /** Whether the last write left a signature of the launcher out (the installer is what gets signed). */
    public boolean launcherSignatureLeftOut() {
        return launcherSignatureLeftOut;
    }

    /** The name a payload file is stored under; the rule the launcher's table sets. */
    public static String storedName(Payload payload, Path file, String givenName) throws PackException {
        String name = payload.fixedName != null ? payload.fixedName
                : givenName != null ? givenName : file.getFileName().toString();
        if (EntryPaths.hasControlCharacter(name)) {
            throw new PackException(EntryPaths.printablePath(file.toString())
                    + ": the file name holds a control character; rename the file");
        }
        if (name.getBytes(StandardCharsets.UTF_8).length > BootstrapTable.FILENAME_WIDTH) {
            throw new PackException(file + ": the file name '" + name + "' is longer than 12 characters, the most an "
                    + "installer can store; rename the file");
        }
        if (!isPlainName(name)) {
            throw new PackException(file + ": the file name '" + name + "' is one every launcher refuses: " + PLAIN_NAME_RULE);
        }
        return name;
    }

    // The launcher writes each payload under its stored name in the run's
    // private directory: a name that could lead elsewhere makes it refuse
    // the whole installer.
    private static final String PLAIN_NAME_RULE =
            "a stored name may hold no '/', '\\', ':' or control character and may not be '.' or '..'";

    private static boolean isPlainName(String name) {
        if (name.isEmpty() || name.equals(".") || name.equals("..")) return false;
        for (int i = 0; i < name.length(); ++i) {
            char c = name.charAt(i);
            if (c == '/' || c == '\\' || c == ':' || c < 32) return false;
        }
        return true;
    }

    /** Printed by -help without a usage text of the installer's own; it names no program, which may be renamed. */
    static final String DEFAULT_USAGE =
            "USAGE : <installer> [-console] [-tempdir <dirName>] [-silent silentFile | -record recordFile [-key [<key>]] ]\n";

    // The launcher extracts all but the usage text and the argument specification side
    // by side, and Windows does not tell case apart: two under one name would
    // leave only the later one.
    private static void checkStoredNamesDiffer(BootstrapTable.Row[] rows) throws PackException {
        for (int i = 0; i < rows.length; ++i) {
            for (int j = 0; j < i; ++j) {
                if (extractedToDisk(i) && extractedToDisk(j) && !rows[i].filename.isEmpty()
                        && sameIgnoringAsciiCase(rows[i].filename, rows[j].filename)) {
                    throw new PackException("the " + Payload.values()[j].id + " and " + Payload.values()[i].id
                            + " payloads would both be stored as '" + rows[i].filename + "'; give one of them another name");
                }
            }
        }
    }

    private static boolean extractedToDisk(int row) {
        return row != Payload.USAGE.ordinal() && row != Payload.ARGUMENTS.ordinal();
    }

    private static boolean sameIgnoringAsciiCase(String a, String b) {
        if (a.length() != b.length()) return false;
        for (int i = 0; i < a.length(); ++i) {
            char x = a.charAt(i);
            char y = b.charAt(i);
            if (x >= 'A' && x <= 'Z') x += 'a' - 'A';
            if (y >= 'A' && y <= 'Z') y += 'a' - 'A';
            if (x != y) return false;
        }
        return true;
    }

    /** Writes the installer to output and returns its size in bytes. */
    public long write(Path output) throws PackException {
        if (launcher == null) throw new PackException("no launcher stub given");
        if (files[Payload.JAR.ordinal()] == null) throw new PackException("no installer jar given");
        checkOutputIsNoInput(output);
        String problem = LauncherStub.problem(launcher);
        if (problem != null) throw new PackException(launcherName + ": not a launcher: " + problem);
        if (BootstrapTable.carriesMarker(launcher)) {
            throw new PackException(launcherName + ": already carries a bootstrap table; give the bare launcher");
        }
        byte[] stub;
        try {
            stub = PeImage.stripSignature(launcher);
        } catch (PackException e) {
            throw new PackException(launcherName + ": " + e.getMessage() + "; give the launcher as it was built", e);
        }
        launcherSignatureLeftOut = stub != launcher;
        if (windowsResources != null && windowsResources.given()) {
            if (PeImage.read(stub).kind != PeImage.Kind.IMAGE) {
                throw new PackException(launcherName + ": " + windowsResources.firstGiven()
                        + " needs a Windows launcher (talve-launcher.exe)");
            }
            Path icon = windowsResources.icon();
            byte[] iconBytes = icon != null ? InputFiles.read(icon, TABLE_LIMIT) : null;
            stub = windowsResources.apply(stub, iconBytes, output.getFileName().toString());
        }

        int count = Payload.values().length;
        BootstrapTable.Row[] rows = new BootstrapTable.Row[count];
        long[] sizes = new long[count];
        byte[][] generated = new byte[count][];
        for (Payload payload : Payload.values()) {
            int i = payload.ordinal();
            rows[i] = new BootstrapTable.Row();
            Path file = files[i];
            if (file == null) continue;
            rows[i].filename = storedName(payload, file, names[i]);
            if (!Files.isRegularFile(file)) throw new PackException(file + ": cannot be read: not a regular file");
            try {
                sizes[i] = Files.size(file);
            } catch (IOException e) {
                throw new PackException(file + ": cannot be read: " + e.getMessage(), e);
            }
            if (sizes[i] > TABLE_LIMIT) {
                throw new PackException(file + ": too large (" + sizes[i] + " bytes, at most " + TABLE_LIMIT + ")");
            }
            String shown = file.toString();
            if (payload == Payload.ARGUMENTS) {
                byte[] given = InputFiles.read(file, TABLE_LIMIT);
                try {
                    generated[i] = LauncherOptions.addTo(given);
                } catch (PackException e) {
                    throw new PackException(file + ": " + e.getMessage(), e);
                }
                sizes[i] = generated[i].length;
                if (generated[i] != given) shown += " with the launcher's own options added";
            }
            checkFitsTheLauncher(payload, shown, sizes[i]);
        }
        int usage = Payload.USAGE.ordinal();
        if (files[usage] == null) {
            generated[usage] = DEFAULT_USAGE.getBytes(StandardCharsets.UTF_8);
            sizes[usage] = generated[usage].length;
            rows[usage].filename = "usage.txt";
        }
        checkStoredNamesDiffer(rows);

        long padded = (stub.length + BootstrapTable.ALIGNMENT - 1L) / BootstrapTable.ALIGNMENT * BootstrapTable.ALIGNMENT;
        long position = padded + BootstrapTable.MARKER_SIZE + (long) count * BootstrapTable.ENTRY_SIZE;
        for (int i = 0; i < count; ++i) {
            if (files[i] == null && generated[i] == null) continue;
            rows[i].id = Payload.values()[i].id;
            rows[i].position = BootstrapTable.payloadStart(position);
            rows[i].length = sizes[i];
            rows[i].diskspace = sizes[i];
            position = rows[i].position + sizes[i];
            if (position > TABLE_LIMIT) throw new PackException("the installer would exceed 4 GiB, beyond what its table can address");
        }
        BootstrapTable.Row jvm = rows[Payload.RUNTIME.ordinal()];
        Path runtime = files[Payload.RUNTIME.ordinal()];
        if (runtime != null) {
            long unpacked;
            if (runtimeSize != null) {
                unpacked = runtimeSize;
            } else {
                try {
                    unpacked = RuntimeArchive.unpackedSizeOf(runtime);
                } catch (PackException e) {
                    throw new PackException(runtime + ": not a packed runtime made by 'talve-pack runtime' (" + e.getMessage()
                            + "); give the runtime size: the bytes the runtime needs once unpacked", e);
                }
            }
            if (unpacked < 0 || unpacked > TABLE_LIMIT) throw new PackException("the runtime size exceeds 4 GiB, beyond what the table can hold");
            jvm.diskspace = unpacked;
        }
        if (searchInstalledRuntime) {
            jvm.id = Payload.RUNTIME.id;
            jvm.data1 = "true";
        }
        if (allowJavaArgs) rows[Payload.JAR.ordinal()].data2 = "allow";
        // Older launchers ignore this field of the jar's row.
        if (console) rows[Payload.JAR.ordinal()].data1 = "console";
        if (files[Payload.DATA.ordinal()] != null) rows[Payload.DATA.ordinal()].data1 = extraSpaceMb;

        // The launcher cannot start without this row: with no specification
        // it says "noValid" and describes an empty payload at the end of the file.
        BootstrapTable.Row arguments = rows[Payload.ARGUMENTS.ordinal()];
        arguments.id = Payload.ARGUMENTS.id;
        if (files[Payload.ARGUMENTS.ordinal()] == null) {
            arguments.position = position;
            arguments.length = 0;
            arguments.data1 = "noValid";
        }

        try (OutputFile out = OutputFile.open(output)) {
            writeFile(out.channel(), stub, padded, rows, generated, output);
            out.commit();
        }
        return position;
    }

    private void writeFile(FileChannel channel, byte[] stub, long padded, BootstrapTable.Row[] rows, byte[][] generated,
                           Path output) throws PackException {
        PeImage headers = PeImage.read(stub);
        boolean windows = headers.kind == PeImage.Kind.IMAGE;
        PeImage.Checksum checksum = new PeImage.Checksum();
        byte[] head = new byte[(int) padded];
        System.arraycopy(stub, 0, head, 0, stub.length);
        // The checksum covers the whole file: the stub's own went stale with the table.
        if (windows) LittleEndian.put(head, headers.checksumOffset, 0, 4);
        try {
            Sink sink = new Sink(channel, checksum);
            sink.put(head, head.length);
            byte[] marker = BootstrapTable.marker();
            sink.put(marker, marker.length);
            for (BootstrapTable.Row row : rows) {
                byte[] entry = BootstrapTable.encode(row);
                sink.put(entry, entry.length);
            }
            for (int i = 0; i < rows.length; ++i) {
                if (generated[i] == null && files[i] == null) continue;
                int gap = (int) (rows[i].position - channel.position());
                sink.put(new byte[gap], gap);
                if (generated[i] != null) {
                    sink.put(generated[i], generated[i].length);
                } else if (windows) {
                    copy(files[i], rows[i].length, sink);
                } else {
                    transfer(files[i], rows[i].length, channel);
                }
            }
            if (windows && headers.checksumOffset + 4 <= channel.position()) {
                byte[] value = new byte[4];
                LittleEndian.put(value, 0, checksum.value(), 4);
                channel.write(ByteBuffer.wrap(value), headers.checksumOffset);
            }
        } catch (IOException e) {
            throw new PackException(output + ": write error: " + e.getMessage(), e);
        }
    }

    // Only a Windows program's checksum needs the bytes: anything else the
    // system copies between the files, in no memory of ours.
    private static void transfer(Path file, long length, FileChannel out) throws PackException, IOException {
        try (FileChannel in = FileChannel.open(file)) {
            long done = 0;
            while (done < length) {
                long moved;
                try {
                    moved = in.transferTo(done, length - done, out);
                } catch (IOException e) {
                    throw new PackException(file + ": read error: " + e.getMessage(), e);
                }
                if (moved <= 0) throw new PackException(file + ": read error: " + ENDED_EARLY);
                done += moved;
            }
        }
    }

    private static void copy(Path file, long length, Sink sink) throws PackException, IOException {
        byte[] buffer = new byte[1 << 16];
        try (InputStream in = Files.newInputStream(file)) {
            for (long remaining = length; remaining > 0;) {
                int n;
                try {
                    n = in.read(buffer, 0, (int) Math.min(buffer.length, remaining));
                } catch (IOException e) {
                    throw new PackException(file + ": read error: " + e.getMessage(), e);
                }
                if (n < 0) throw new PackException(file + ": read error: " + ENDED_EARLY);
                sink.put(buffer, n);
                remaining -= n;
            }
        }
    }

    private static final class Sink {
        private final FileChannel channel;
        private final PeImage.Checksum checksum;

        Sink(FileChannel channel, PeImage.Checksum checksum) {
            this.channel = channel;
            this.checksum = checksum;
        }

        void put(byte[] bytes, int length) throws IOException {
            checksum.update(bytes, 0, length);
            ByteBuffer buffer = ByteBuffer.wrap(bytes, 0, length);
            while (buffer.hasRemaining()) channel.write(buffer);
        }
    }

    // The output replaces what has its name: an input there would be lost.
    private void checkOutputIsNoInput(Path output) throws PackException {
        if (!Files.exists(output)) return;
        List<Path> inputs = new ArrayList<>(Arrays.asList(files));
        if (windowsResources != null) inputs.add(windowsResources.icon());
        for (Path file : inputs) {
            try {
                if (file != null && Files.exists(file) && Files.isSameFile(output, file)) {
                    throw new PackException(output + ": is also the input " + file + "; give another output file");
                }
            } catch (IOException ignored) {
                // An input that cannot be compared is reported when it is read.
            }
        }
    }

    // The launcher reads these two into buffers of a fixed size and skips one
    // that is too long: the command line would go unchecked or -help show nothing.
    private static void checkFitsTheLauncher(Payload payload, String file, long size) throws PackException {
        long limit = payload == Payload.USAGE ? BootstrapTable.USAGE_LIMIT
                : payload == Payload.ARGUMENTS ? BootstrapTable.ARGUMENTS_LIMIT : 0;
        if (limit == 0 || size < limit) return;
        throw new PackException(file + ": " + size + " bytes, too long: the launcher reads "
                + (payload == Payload.USAGE ? "a usage text" : "an argument specification") + " of less than " + limit + " bytes");
    }
}
