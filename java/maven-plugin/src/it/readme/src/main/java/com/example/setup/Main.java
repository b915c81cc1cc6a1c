package com.example.setup;

import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.Collections;

import org.talve.installer.ExitCode;
import org.talve.installer.LauncherContext;

/**
 * Installs "a product" the way the user guide's installer jar does: the
 * home from the silent answers, a line naming the runtime it ran on, and the
 * product's record.
 */
public final class Main {
    public static void main(String[] args) throws Exception {
        LauncherContext launcher = LauncherContext.current();
        Path home = Paths.get(launcher.silentAnswers().get("installDir", "/opt/product"));
        Files.createDirectories(home);
        Files.write(home.resolve("installed.txt"), Collections.singletonList("installed with runtime "
                + System.getProperty("java.home")), StandardCharsets.UTF_8);
        launcher.productRecords().writeRecord("readme-product", home);
        System.exit(ExitCode.SUCCESS);
    }
}
