package org.talve.maven.pack;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.HashMap;
import java.util.Map;

import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * The installers "mvn package" made of the sample project (src/it/sample)
 * through the plugin: the Linux one installs on the Java runtime it carries,
 * made by jlink; the Windows one runs under Wine.
 */
class SampleInstallersIT {
    @TempDir
    Path scratch;

    @Test
    void theLinuxInstallerInstallsOnItsOwnRuntime() throws Exception {
        Path installer = NativeBuild.builtByIt("sample", "sample-1.0-linux");
        Path temp = Files.createDirectories(scratch.resolve("temp"));
        Path product = scratch.resolve("product home");
        Map<String, String> environment = new HashMap<>();
        environment.put("TEMP", temp.toString());
        // Product records only where this test puts them, whatever the machine holds.
        environment.put("KORVU_INVENTORY_LOCATION", scratch.resolve("inventory").toString());
        environment.put("CommonProgramFiles", scratch.resolve("common").toString());
        environment.put("ALLUSERSPROFILE", scratch.resolve("all users").toString());
        NativeBuild.Run result = NativeBuild.run(Arrays.asList(installer.toString(), "-installDir", product.toString(), "-multipleInstance"),
                scratch, environment);
        assertEquals(0, result.code, result.output);
        String record = new String(Files.readAllBytes(product.resolve("installed.txt")), StandardCharsets.UTF_8).trim();
        assertTrue(record.startsWith("installed with runtime " + temp) && record.endsWith("_jvm"),
                "not the runtime the installer carries: " + record);
        assertTrue(NativeBuild.isEmpty(temp), "the installer left files in its temporary folder");

        NativeBuild.Run list = NativeBuild.talvePack(scratch, "list", installer.toString());
        assertTrue(list.output.contains("check.jar") && list.output.contains("req.txt") && list.output.contains("setup.jar"),
                "the plugin's checking jar does not go with the requirements: " + list.output);

        NativeBuild.Run help = NativeBuild.run(Arrays.asList(installer.toString(), "-help"), scratch, environment);
        assertTrue(help.output.contains("USAGE : ./sample-linux -installDir DIR"), help.output);
    }

    @Test
    void theRuntimeJlinkMadeIsPackedAsTalvePackPacksIt() throws Exception {
        Path packed = NativeBuild.builtByIt("sample", "talve/linux/jvm");
        Path expected = scratch.resolve("jvm");
        NativeBuild.Run run = NativeBuild.talvePack(scratch, "runtime", packed.resolveSibling("runtime-image").toString(),
                "-o", expected.toString(), "--unpacker", NativeBuild.linuxBin("talve-unpack").toString());
        assertEquals(0, run.code, run.output);
        assertTrue(Arrays.equals(Files.readAllBytes(expected), Files.readAllBytes(packed)), "the plugin packed other bytes");
    }

    static Map<String, String> wineSettings() throws IOException {
        Path config = NativeBuild.property("talve.wine.config");
        assumeTrue(Files.isRegularFile(config), "no Wine set up for the tests");
        Map<String, String> settings = new HashMap<>();
        for (String line : Files.readAllLines(config, StandardCharsets.UTF_8)) {
            int equals = line.indexOf('=');
            if (equals > 0) settings.put(line.substring(0, equals), line.substring(equals + 1));
        }
        return settings;
    }

    /**
     * The installers the plugin makes carry its 32-bit launcher, which a Wine
     * that runs 64-bit programs only (on a kernel without 32-bit support)
     * cannot start.
     */
    static void assumeWineRunsThePluginsLauncher(Map<String, String> wine) {
        assumeTrue(!"x86_64".equals(wine.get("machine")),
                "this machine's Wine runs 64-bit programs only; the plugin's installers carry the 32-bit launcher");
    }

    static String windowsPath(Path path) {
        return "Z:" + path.toAbsolutePath().toString().replace('/', '\\');
    }

    /** The suite's Wine prefix, with the installer's temporary folder in temp. */
    static Map<String, String> wineEnvironment(Map<String, String> wine, Path temp) {
        Map<String, String> environment = new HashMap<>();
        environment.put("WINEPREFIX", wine.get("prefix"));
        environment.put("WINEDEBUG", "-all");
        environment.put("WINEDLLOVERRIDES", "mscoree,mshtml=");
        environment.put("TALVE_TEST_TEMP", windowsPath(temp));
        environment.put("TALVE_TEST_TMP", windowsPath(temp));
        environment.put("TALVE_TEST_CommonProgramFiles", "C:\\Program Files\\Common Files");
        environment.put("TALVE_TEST_ALLUSERSPROFILE", "C:\\ProgramData");
        return environment;
    }

    @Test
    void theWindowsInstallerRunsUnderWine() throws Exception {
        Map<String, String> wine = wineSettings();
        assumeWineRunsThePluginsLauncher(wine);
        Path installer = NativeBuild.builtByIt("sample", "sample-1.0-windows.exe");
        Path temp = Files.createDirectories(scratch.resolve("temp"));
        Path record = scratch.resolve("record.txt");
        Map<String, String> environment = wineEnvironment(wine, temp);
        environment.put("PROBE_RECORD", windowsPath(record));
        environment.put("PROBE_EXIT", "5");
        NativeBuild.Run result = NativeBuild.run(Arrays.asList(wine.get("wine"), installer.toString(), "-multipleInstance"), scratch, environment);
        assertEquals(5, result.code, result.output);
        String recorded = new String(Files.readAllBytes(record), StandardCharsets.UTF_8);
        assertTrue(recorded.contains("FILE setup.jar 504b0304"), "the sample's jar was not beside the runtime: " + recorded);
        assertTrue(NativeBuild.isEmpty(temp), "the installer left files in its temporary folder");
    }
}
