package org.talve.maven.pack;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.Collections;
import java.util.HashMap;
import java.util.Map;

import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * The installers of the user guide's pom (src/it/readme, its pom copied out
 * of README.md), whose installer jar builds on the installer library: the
 * Linux one installs to the end on the runtime jlink made, the Windows one
 * starts its java under Wine.
 */
class ReadmeInstallersIT {
    @TempDir
    Path scratch;

    @Test
    void theLinuxInstallerRunsTheLibraryOnItsOwnRuntime() throws Exception {
        Path installer = NativeBuild.builtByIt("readme", "setup-1.0-linux");
        Path temp = Files.createDirectories(scratch.resolve("temp"));
        Path product = scratch.resolve("product home");
        Path inventory = scratch.resolve("inventory");
        Path answers = Files.write(scratch.resolve("answers.properties"),
                Collections.singletonList("installDir=" + product), StandardCharsets.UTF_8);
        Map<String, String> environment = new HashMap<>();
        environment.put("TEMP", temp.toString());
        environment.put("KORVU_INVENTORY_LOCATION", inventory.toString());
        NativeBuild.Run result = NativeBuild.run(Arrays.asList(installer.toString(), "-silent", answers.toString(), "-multipleInstance"),
                scratch, environment);
        assertEquals(0, result.code, result.output);
        String installed = new String(Files.readAllBytes(product.resolve("installed.txt")), StandardCharsets.UTF_8).trim();
        assertTrue(installed.startsWith("installed with runtime " + temp) && installed.endsWith("_jvm"),
                "not the runtime the installer carries: " + installed);
        assertEquals(product + "\n", new String(Files.readAllBytes(inventory.resolve("readme-product.talve")), StandardCharsets.UTF_8));
        assertTrue(NativeBuild.isEmpty(temp), "the installer left files in its temporary folder");
    }

    @Test
    void theWindowsInstallerStartsItsJavaUnderWine() throws Exception {
        Map<String, String> wine = SampleInstallersIT.wineSettings();
        SampleInstallersIT.assumeWineRunsThePluginsLauncher(wine);
        Path windowsBuild = NativeBuild.property("talve.windows.bin.dir").resolve("talve_probe.exe");
        assumeTrue(Files.isRegularFile(windowsBuild), "no Windows build");
        Path installer = NativeBuild.builtByIt("readme", "setup-1.0-windows.exe");
        Path temp = Files.createDirectories(scratch.resolve("temp"));
        Path record = scratch.resolve("record.txt");
        Map<String, String> environment = SampleInstallersIT.wineEnvironment(wine, temp);
        environment.put("PROBE_RECORD", SampleInstallersIT.windowsPath(record));
        environment.put("PROBE_EXIT", "0");
        NativeBuild.Run result = NativeBuild.run(Arrays.asList(wine.get("wine"), installer.toString(), "-multipleInstance"), scratch, environment);
        assertEquals(0, result.code, result.output);
        String recorded = new String(Files.readAllBytes(record), StandardCharsets.UTF_8);
        assertTrue(recorded.contains("FILE setup.jar 504b0304"), "java did not start on the guide's jar: " + recorded);
        assertTrue(NativeBuild.isEmpty(temp), "the installer left files in its temporary folder");
    }
}
