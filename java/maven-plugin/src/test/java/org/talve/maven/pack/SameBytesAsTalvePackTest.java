package org.talve.maven.pack;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.DynamicTest.dynamicTest;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Random;
import java.util.stream.Stream;

import org.junit.jupiter.api.DynamicTest;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestFactory;
import org.junit.jupiter.api.io.TempDir;

/** The Java packer writes the bytes talve-pack writes, for every kind of input either takes. */
class SameBytesAsTalvePackTest {
    @TempDir
    Path scratch;

    private static byte[] mixed(int size, long seed) {
        Random random = new Random(seed);
        byte[] bytes = new byte[size];
        byte[] text = "class path module resource jlink ".getBytes(StandardCharsets.US_ASCII);
        for (int i = 0; i < size; ++i) bytes[i] = (i / 4096) % 3 == 0 ? (byte) random.nextInt() : text[i % text.length];
        return bytes;
    }

    private static Path write(Path file, byte[] content) throws IOException {
        Files.createDirectories(file.getParent());
        return Files.write(file, content);
    }

    /**
     * A runtime folder with what real ones hold and what the packer treats
     * specially: programs, large and empty files, a file of exactly one read
     * block, names whose byte order differs from their character order, links
     * written relative, absolute and to a folder.
     */
    static Path makeRuntime(Path root, boolean windows) throws IOException {
        Path java = write(root.resolve(windows ? "bin/java.exe" : "bin/java"), mixed(70001, 1));
        if (!windows) java.toFile().setExecutable(true);
        write(root.resolve("lib/modules"), mixed(900000, 2));
        write(root.resolve("lib/one-block"), mixed(1 << 18, 3));
        write(root.resolve("lib/empty"), new byte[0]);
        write(root.resolve("lib/Zeta"), "Z".getBytes(StandardCharsets.UTF_8));
        write(root.resolve("lib/alpha"), "a".getBytes(StandardCharsets.UTF_8));
        write(root.resolve("lib/\u00e9t\u00e9"), "\u00e9".getBytes(StandardCharsets.UTF_8));
        write(root.resolve("lib/\uD83D\uDE00"), "emoji".getBytes(StandardCharsets.UTF_8));
        write(root.resolve("lib/\uFB01"), "ligature".getBytes(StandardCharsets.UTF_8));
        write(root.resolve("conf/security/java.security"), "securerandom.source=file:/dev/random\n".getBytes(StandardCharsets.UTF_8));
        Files.createDirectories(root.resolve("include/empty-folder"));
        if (!windows) {
            Files.createSymbolicLink(root.resolve("legal"), root.resolve("conf").getFileName());
            Files.createSymbolicLink(root.resolve("lib/relative"), root.getFileSystem().getPath("../conf/security/java.security"));
            Files.createSymbolicLink(root.resolve("lib/absolute"), root.resolve("lib/alpha").toAbsolutePath());
            Files.createSymbolicLink(root.resolve("bin/home"), root.toAbsolutePath());
        }
        return root;
    }

    private void assertSameRuntime(Path runtime, Path unpacker) throws Exception {
        assertSameRuntime(runtime, unpacker, RuntimeArchive.Compression.zstd());
    }

    private void assertSameRuntime(Path runtime, Path unpacker, RuntimeArchive.Compression compression, String... options)
            throws Exception {
        Path expected = scratch.resolve("by-talve-pack.jvm");
        List<String> arguments = new ArrayList<>(Arrays.asList("runtime", runtime.toString(), "-o", expected.toString(),
                "--unpacker", unpacker.toString()));
        arguments.addAll(Arrays.asList(options));
        NativeBuild.Run run = NativeBuild.talvePack(scratch, arguments.toArray(new String[0]));
        assertEquals(0, run.code, run.output);
        Path actual = scratch.resolve("by-java.jvm");
        Files.deleteIfExists(actual);
        RuntimeArchive.Result result = RuntimeArchive.write(runtime, unpacker, actual, compression);
        assertArrayEquals(Files.readAllBytes(expected), Files.readAllBytes(actual), "packed " + runtime);
        assertEquals(run.output.trim(), Long.toString(result.unpackedBytes), "the unpacked size");
        assertEquals(result.unpackedBytes, RuntimeArchive.unpackedSizeOf(actual));
    }

    @Test
    void packsALinuxRuntimeAsTalvePack() throws Exception {
        assertSameRuntime(makeRuntime(scratch.resolve("linux runtime"), false), NativeBuild.linuxBin("talve-unpack"));
    }

    /** Files of several zstd frames, and the codec and level each packer is given. */
    @Test
    void packsWithEveryCompressionAsTalvePack() throws Exception {
        Path runtime = makeRuntime(scratch.resolve("runtime"), false);
        write(runtime.resolve("lib/large"), mixed((9 << 20) + 5, 4));
        write(runtime.resolve("lib/frame"), mixed(4 << 20, 5));
        Path unpacker = NativeBuild.linuxBin("talve-unpack");
        assertSameRuntime(runtime, unpacker, RuntimeArchive.Compression.zstd(3), "--level", "3");
        assertSameRuntime(runtime, unpacker, RuntimeArchive.Compression.deflate(), "--compression", "deflate");
    }

    @Test
    void packsAWindowsRuntimeAsTalvePack() throws Exception {
        assertSameRuntime(makeRuntime(scratch.resolve("windows runtime"), true), NativeBuild.windowsBin("talve-unpack.exe"));
    }

    @Test
    void keepsARuntimesOwnPropertiesAsTalvePack() throws Exception {
        Path runtime = makeRuntime(scratch.resolve("runtime"), false);
        write(runtime.resolve("jvm.properties"), "java.bin.path=bin/java\r\nextra=1\n".getBytes(StandardCharsets.UTF_8));
        assertSameRuntime(runtime, NativeBuild.linuxBin("talve-unpack"));
    }

    /**
     * Names beyond ASCII, of files and in link targets, pack as talve-pack
     * packs them in a locale that cannot spell them (LANG=C) as in any other;
     * a name that is no UTF-8 is refused by name, as archives hold UTF-8.
     */
    @Test
    void packsEveryNameTheSameInAnyLocale() throws Exception {
        Path runtime = makeRuntime(scratch.resolve("runtime"), false);
        Files.createDirectories(runtime.resolve("lib/dossi\u00e9r"));
        write(runtime.resolve("lib/dossi\u00e9r/\u4e16\u754c"), new byte[] {1});
        Files.createSymbolicLink(runtime.resolve("lib/to-\u00e9t\u00e9"), runtime.getFileSystem().getPath("\u00e9t\u00e9"));
        Path unpacker = NativeBuild.linuxBin("talve-unpack");
        Path expected = scratch.resolve("by-talve-pack.jvm");
        NativeBuild.Run run = NativeBuild.talvePack(scratch, "runtime", runtime.toString(), "-o", expected.toString(),
                "--unpacker", unpacker.toString());
        assertEquals(0, run.code, run.output);
        for (String locale : Arrays.asList("C", "C.UTF-8")) {
            Path actual = scratch.resolve("by-java-" + locale + ".jvm");
            NativeBuild.Run java = packInLocale(locale, runtime, unpacker, actual);
            assertEquals(0, java.code, java.output);
            assertArrayEquals(Files.readAllBytes(expected), Files.readAllBytes(actual), locale);
        }

        Process latin1 = new ProcessBuilder("sh", "-c", "printf x > \"$1/lib/caf$(printf '\\351')\"", "sh", runtime.toString())
                .start();
        assertEquals(0, latin1.waitFor());
        for (String locale : Arrays.asList("C", "C.UTF-8")) {
            NativeBuild.Run refused = packInLocale(locale, runtime, unpacker, scratch.resolve("refused.jvm"));
            assertEquals(3, refused.code, refused.output);
            assertTrue(refused.output.contains("caf\\xe9") && refused.output.contains("not UTF-8"), refused.output);
        }
    }

    private static NativeBuild.Run packInLocale(String locale, Path runtime, Path unpacker, Path output) throws Exception {
        ProcessBuilder java = new ProcessBuilder(Paths.get(System.getProperty("java.home"), "bin", "java").toString(),
                "-cp", System.getProperty("java.class.path"), PackInLocale.class.getName(), runtime.toString(),
                unpacker.toString(), output.toString()).redirectErrorStream(true);
        java.environment().put("LANG", locale);
        java.environment().put("LC_ALL", locale);
        java.environment().remove("JAVA_TOOL_OPTIONS");
        Process process = java.start();
        String shown = new String(readAll(process.getInputStream()), StandardCharsets.UTF_8);
        return new NativeBuild.Run(process.waitFor(), shown);
    }

    private static byte[] readAll(java.io.InputStream in) throws IOException {
        java.io.ByteArrayOutputStream bytes = new java.io.ByteArrayOutputStream();
        byte[] buffer = new byte[8192];
        for (int n; (n = in.read(buffer)) > 0; ) bytes.write(buffer, 0, n);
        return bytes.toByteArray();
    }

    /** One way to make an installer, given to both packers. */
    private static final class Case {
        final String name;
        final List<String> options;

        Case(String name, String... options) {
            this.name = name;
            this.options = Arrays.asList(options);
        }
    }

    private static final Case[] CASES = {
        new Case("the jar alone"),
        new Case("a splash image", "--splash", "splash.gif"),
        new Case("a packed runtime", "--runtime", "jvm"),
        new Case("a runtime of a given size", "--runtime", "jvm", "--runtime-size", "4000000000"),
        new Case("a data jar", "--data", "data.jar"),
        new Case("a data jar with extra space", "--data", "data.jar", "--extra-space-mb", "123456789"),
        new Case("a usage text", "--usage", "usage.txt"),
        new Case("a checking jar and requirements", "--check-jar", "checker.jar", "--requirements", "needs.txt"),
        new Case("an argument specification", "--args-spec", "args.txt"),
        new Case("a specification declaring some of the launcher's options", "--args-spec", "own.txt"),
        new Case("a specification declaring all of the launcher's options", "--args-spec", "all.txt"),
        new Case("stored names of its own", "--jar-name", "install.jar", "--data", "data.jar", "--data-name", "files.jar"),
        new Case("the console choice", "--console"),
        new Case("no validation", "--no-validation"),
        new Case("the Java options and the installed-runtime search", "--allow-java-args", "--search-installed-runtime"),
        new Case("everything", "--splash", "splash.gif", "--runtime", "jvm", "--data", "data.jar", "--extra-space-mb", "7",
                "--usage", "usage.txt", "--check-jar", "checker.jar", "--requirements", "needs.txt", "--args-spec", "args.txt",
                "--allow-java-args", "--search-installed-runtime", "--console", "--jar-name", "i.jar"),
    };

    private static final String ALL_LAUNCHER_OPTIONS = "-help{\nType=NoValue\n}\n-h{\nType=NoValue\n}\n"
            + "-console{\nType=NoValue\n}\n-multipleInstance{\nType=NoValue\n}\n-noSplashScreen{\nType=NoValue\n}\n"
            + "-tempdir{\nType=String\n}\n-javaArgs{\nType=String\n}\n-location{\nType=String\n}\n"
            + "-javaHome{\nType=String\n}\n-key{\nType=String\nOptional=True\n}\n-silent{\nType=String\n}\n"
            + "-record{\nType=String\n}\n";
    /** Icon, version information and execution level: Windows launchers only. */
    private static final Case[] WINDOWS_CASES = {
        new Case("an icon", "--icon", "product.ico"),
        new Case("a product name alone", "--product-name", "Example Setup"),
        new Case("all the version information", "--product-name", "Example Setup", "--product-version", "2.0.13",
                "--file-version", "2.0.13.7", "--company", "Example Corp.", "--description", "Installs Example",
                "--copyright", "(c) 2026 Example Corp.", "--original-filename", "example-setup.exe"),
        new Case("an execution level", "--execution-level", "requireAdministrator"),
        new Case("everything Windows takes", "--icon", "product.ico", "--execution-level", "asInvoker", "--file-version", "1",
                "--company", "Example Corp.", "--runtime", "jvm", "--data", "data.jar"),
    };

    /** An icon file of a bitmap image and a PNG one, as icon editors write them. */
    static byte[] iconFile() {
        byte[] bitmap = new byte[40 + 16 * 16 * 4 + 16 * 4];
        LittleEndian.put(bitmap, 0, 40, 4);
        byte[] png = mixed(300, 15);
        System.arraycopy(new byte[] {(byte) 0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'}, 0, png, 0, 8);
        byte[] ico = new byte[6 + 2 * 16 + bitmap.length + png.length];
        LittleEndian.put(ico, 2, 1, 2);
        LittleEndian.put(ico, 4, 2, 2);
        int[][] entries = {{16, bitmap.length, 38}, {0, png.length, 38 + bitmap.length}};
        for (int i = 0; i < 2; ++i) {
            int entry = 6 + i * 16;
            ico[entry] = ico[entry + 1] = (byte) entries[i][0];
            LittleEndian.put(ico, entry + 4, 1, 2);
            LittleEndian.put(ico, entry + 6, 32, 2);
            LittleEndian.put(ico, entry + 8, entries[i][1], 4);
            LittleEndian.put(ico, entry + 12, entries[i][2], 4);
        }
        System.arraycopy(bitmap, 0, ico, 38, bitmap.length);
        System.arraycopy(png, 0, ico, 38 + bitmap.length, png.length);
        return ico;
    }

    private void makePayloads(Path folder, Path unpacker, boolean windows) throws Exception {
        write(folder.resolve("setup.jar"), mixed(10001, 10));
        write(folder.resolve("splash.gif"), mixed(3001, 11));
        write(folder.resolve("data.jar"), mixed(5000, 12));
        write(folder.resolve("usage.txt"), "USAGE : ./setup -installDir DIR\n".getBytes(StandardCharsets.UTF_8));
        write(folder.resolve("checker.jar"), mixed(777, 13));
        write(folder.resolve("needs.txt"), "java.feature.min=8\n".getBytes(StandardCharsets.UTF_8));
        write(folder.resolve("args.txt"), "-installDir{\n  Type=String\n}\n".getBytes(StandardCharsets.UTF_8));
        // No final line end, lines ended by CR, a block never closed: what is declared is what the launcher reads.
        write(folder.resolve("own.txt"), "-silent{\r Type=String\r Optional=True\r}\r-record{\rType=String\r}\r-h{\r}\r-javaHome{"
                .getBytes(StandardCharsets.ISO_8859_1));
        write(folder.resolve("all.txt"), (ALL_LAUNCHER_OPTIONS + "\n\n").getBytes(StandardCharsets.UTF_8));
        write(folder.resolve("product.ico"), iconFile());
        Path runtime = Files.createDirectories(folder.resolve("runtime"));
        write(runtime.resolve(windows ? "bin/java.exe" : "bin/java"), mixed(2000, 14));
        RuntimeArchive.write(runtime, unpacker, folder.resolve("jvm"));
    }

    private Installer configure(Path folder, Path launcher, List<String> options) throws Exception {
        Installer installer = new Installer().launcher(launcher).payload(Installer.Payload.JAR, folder.resolve("setup.jar"));
        Path data = null;
        WindowsResources resources = new WindowsResources();
        installer.windowsResources(resources);
        for (int i = 0; i < options.size(); ++i) {
            String option = options.get(i);
            String value = i + 1 < options.size() ? options.get(i + 1) : "";
            switch (option) {
                case "--splash": installer.payload(Installer.Payload.SPLASH, folder.resolve(value)); break;
                case "--runtime": installer.payload(Installer.Payload.RUNTIME, folder.resolve(value)); break;
                case "--runtime-size": installer.runtimeSize(Long.parseLong(value)); break;
                case "--data": data = folder.resolve(value); installer.payload(Installer.Payload.DATA, data); break;
                case "--jar-name": installer.payload(Installer.Payload.JAR, folder.resolve("setup.jar"), value); break;
                case "--data-name": installer.payload(Installer.Payload.DATA, data, value); break;
                case "--extra-space-mb": installer.extraSpaceMb(Long.parseLong(value)); break;
                case "--usage": installer.payload(Installer.Payload.USAGE, folder.resolve(value)); break;
                case "--check-jar": installer.payload(Installer.Payload.CHECK_JAR, folder.resolve(value)); break;
                case "--requirements": installer.payload(Installer.Payload.REQUIREMENTS, folder.resolve(value)); break;
                case "--args-spec": installer.payload(Installer.Payload.ARGUMENTS, folder.resolve(value)); break;
                case "--allow-java-args": installer.allowJavaArgs(true); continue;
                case "--search-installed-runtime": installer.searchInstalledRuntime(true); continue;
                case "--console": installer.console(true); continue;
                case "--no-validation": continue;
                case "--icon": resources.icon(folder.resolve(value)); break;
                case "--execution-level": resources.executionLevel(value); break;
                case "--product-name": resources.text(WindowsResources.Field.PRODUCT_NAME, value); break;
                case "--product-version": resources.text(WindowsResources.Field.PRODUCT_VERSION, value); break;
                case "--file-version": resources.text(WindowsResources.Field.FILE_VERSION, value); break;
                case "--company": resources.text(WindowsResources.Field.COMPANY, value); break;
                case "--description": resources.text(WindowsResources.Field.DESCRIPTION, value); break;
                case "--copyright": resources.text(WindowsResources.Field.COPYRIGHT, value); break;
                case "--original-filename": resources.text(WindowsResources.Field.ORIGINAL_FILENAME, value); break;
                default: throw new IllegalArgumentException(option);
            }
            ++i;
        }
        return installer;
    }

    private Stream<DynamicTest> installers(String system, Path launcher, Path unpacker) {
        boolean windows = system.equals("windows");
        Stream<Case> cases = Arrays.stream(CASES);
        if (windows) cases = Stream.concat(cases, Arrays.stream(WINDOWS_CASES));
        return cases.map(c -> dynamicTest(system + " installer with " + c.name, () -> {
            Path folder = Files.createDirectories(scratch.resolve(system + "/" + c.name));
            makePayloads(folder, unpacker, windows);
            Path expected = Files.createDirectories(folder.resolve("by-talve-pack")).resolve("setup");
            List<String> arguments = new ArrayList<>(Arrays.asList("create", "-o", expected.toString(),
                    "--launcher", launcher.toString(), "--jar", "setup.jar"));
            arguments.addAll(c.options);
            NativeBuild.Run run = NativeBuild.talvePack(folder, arguments.toArray(new String[0]));
            assertEquals(0, run.code, run.output);
            Path actual = Files.createDirectories(folder.resolve("by-java")).resolve("setup");
            long size = configure(folder, launcher, c.options).write(actual);
            assertArrayEquals(Files.readAllBytes(expected), Files.readAllBytes(actual), c.name);
            assertEquals(Files.size(actual), size);
        }));
    }

    /** An input both packers must refuse, with the words the refusal holds. */
    private static final class Refusal {
        final String name;
        final String file;
        final String storedName;
        final byte[] content;
        final String words;

        Refusal(String name, String file, String storedName, byte[] content, String words) {
            this.name = name;
            this.file = file;
            this.storedName = storedName;
            this.content = content;
            this.words = words;
        }
    }

    @TestFactory
    Stream<DynamicTest> refusesWhatEveryLauncherWouldRefuseAsTalvePack() {
        Path launcher = NativeBuild.linuxBin("talve-launcher");
        byte[] data = {1, 2, 3};
        byte[] stray = "the installer's own parameters\n-installDir{\nType=String\n}\n".getBytes(StandardCharsets.UTF_8);
        Refusal[] refusals = {
            new Refusal("a data jar named with a backslash", "a\\b.jar", null, data, "every launcher refuses"),
            new Refusal("a data jar named to climb out", "..\\setup.jar", null, data, "every launcher refuses"),
            new Refusal("a data jar named with a drive", "c:x.jar", null, data, "every launcher refuses"),
            new Refusal("a data jar stored under a path", "data.jar", "../data.jar", data, "every launcher refuses"),
            new Refusal("a data jar stored as the jar", "data.jar", "SETUP.jar", data, "would both be stored as"),
            new Refusal("a specification that ends before the added options", "spec.txt", null, stray,
                    "cannot be added behind this specification"),
        };
        return Arrays.stream(refusals).map(r -> dynamicTest(r.name, () -> {
            Path folder = Files.createDirectories(scratch.resolve("refused/" + r.name));
            write(folder.resolve("setup.jar"), mixed(1000, 20));
            Path file = write(folder.resolve(r.file), r.content);
            boolean spec = r.file.equals("spec.txt");
            List<String> arguments = new ArrayList<>(Arrays.asList("create", "-o", "setup", "--launcher", launcher.toString(),
                    "--jar", "setup.jar", spec ? "--args-spec" : "--data", r.file));
            if (r.storedName != null) arguments.addAll(Arrays.asList("--data-name", r.storedName));
            NativeBuild.Run run = NativeBuild.talvePack(folder, arguments.toArray(new String[0]));
            assertEquals(1, run.code, run.output);
            assertTrue(run.output.contains(r.words), run.output);
            Installer installer = new Installer().launcher(launcher).payload(Installer.Payload.JAR, folder.resolve("setup.jar"))
                    .payload(spec ? Installer.Payload.ARGUMENTS : Installer.Payload.DATA, file, r.storedName);
            String message = assertThrows(PackException.class, () -> installer.write(folder.resolve("by-java"))).getMessage();
            assertTrue(message.contains(r.words), message);
            assertFalse(Files.exists(folder.resolve("setup")) || Files.exists(folder.resolve("by-java")));
        }));
    }

    /** A launcher whose certificate table starts inside its headers or sections cannot be cut at it. */
    @TestFactory
    Stream<DynamicTest> refusesASignatureInsideTheLauncherAsTalvePack() throws IOException {
        Path launcher = NativeBuild.windowsBin("talve-launcher.exe");
        byte[] bytes = Files.readAllBytes(launcher);
        PeImage headers = PeImage.read(bytes);
        return Arrays.stream(new long[] {0x100, 0x200, headers.programEnd - 8}).mapToObj(offset ->
                dynamicTest("a certificate table at offset " + offset, () -> {
            byte[] damaged = bytes.clone();
            LittleEndian.put(damaged, headers.securityEntryOffset, offset, 4);
            LittleEndian.put(damaged, headers.securityEntryOffset + 4, damaged.length - offset, 4);
            Path folder = Files.createDirectories(scratch.resolve("inside-" + offset));
            Path stub = Files.write(folder.resolve("stub.exe"), damaged);
            write(folder.resolve("setup.jar"), mixed(1000, 21));
            NativeBuild.Run run = NativeBuild.talvePack(folder, "create", "-o", "setup.exe", "--launcher", stub.toString(),
                    "--jar", "setup.jar");
            assertEquals(1, run.code, run.output);
            assertTrue(run.output.contains("a damaged signature: the certificate table (offset " + offset), run.output);
            assertEquals(1, run.output.trim().split("\n").length, "one line: " + run.output);
            String message = assertThrows(PackException.class, () -> new Installer().launcher(stub)
                    .payload(Installer.Payload.JAR, folder.resolve("setup.jar")).write(folder.resolve("by-java.exe"))).getMessage();
            assertTrue(message.contains("starts inside the program, whose headers and sections end at offset " + headers.programEnd),
                    message);
            assertFalse(Files.exists(folder.resolve("setup.exe")) || Files.exists(folder.resolve("by-java.exe")));
        }));
    }

    @TestFactory
    Stream<DynamicTest> linuxInstallersAsTalvePack() {
        return installers("linux", NativeBuild.linuxBin("talve-launcher"), NativeBuild.linuxBin("talve-unpack"));
    }

    @TestFactory
    Stream<DynamicTest> windowsInstallersAsTalvePack() {
        return installers("windows", NativeBuild.windowsBin("talve-launcher.exe"), NativeBuild.windowsBin("talve-unpack.exe"));
    }
}
