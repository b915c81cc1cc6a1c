package org.talve.maven.pack;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;

import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** What the Java packer refuses to write as a Windows installer's resources, and the plugin's version default. */
class WindowsResourcesTest {
    @TempDir
    Path scratch;

    private static String refused(ThrowingStep step) {
        return assertThrows(PackException.class, step::run).getMessage();
    }

    private interface ThrowingStep {
        void run() throws Exception;
    }

    @Test
    void textsAndVersionsThatCannotBeWrittenAreRefused() {
        WindowsResources resources = new WindowsResources();
        assertEquals("'1.0-beta' is not a version of dotted numbers (up to four, each 0 to 65535)",
                refused(() -> resources.text(WindowsResources.Field.FILE_VERSION, "1.0-beta")));
        assertEquals("'1.2.3.4.5' is not a version of dotted numbers (up to four, each 0 to 65535)",
                refused(() -> resources.text(WindowsResources.Field.PRODUCT_VERSION, "1.2.3.4.5")));
        assertEquals("'65536' is not a version of dotted numbers (up to four, each 0 to 65535)",
                refused(() -> resources.text(WindowsResources.Field.PRODUCT_VERSION, "65536")));
        char[] tooLong = new char[VersionInfo.MAX_TEXT + 1];
        Arrays.fill(tooLong, 'x');
        assertEquals("1025 characters, too long for the version information (at most 1024)",
                refused(() -> resources.text(WindowsResources.Field.DESCRIPTION, new String(tooLong))));
        assertEquals("holds a control character", refused(() -> resources.text(WindowsResources.Field.COMPANY, "a\nb")));
        assertEquals("an empty text", refused(() -> resources.text(WindowsResources.Field.COPYRIGHT, "")));
        assertEquals("takes asInvoker, highestAvailable or requireAdministrator, not 'admin'",
                refused(() -> resources.executionLevel("admin")));
    }

    @Test
    void aSnapshotVersionKeepsItsTextAndLeavesTheSuffixOutOfTheNumbers() throws Exception {
        new WindowsResources().projectVersion(WindowsResources.Field.PRODUCT_VERSION, "1.4.2-SNAPSHOT");
        assertEquals("'1.4-beta' is not a version of dotted numbers (up to four, each 0 to 65535)",
                refused(() -> new WindowsResources().projectVersion(WindowsResources.Field.FILE_VERSION, "1.4-beta")));
        // The numeric fields lie in the fixed part of the block, the text in its table.
        byte[] block = VersionInfo.resource(VersionInfo.parseNumber("1.4.2"), VersionInfo.parseNumber("1.4.2"),
                java.util.Collections.singletonList(new java.util.AbstractMap.SimpleEntry<>("ProductVersion", "1.4.2-SNAPSHOT")));
        assertEquals(0x10004L, LittleEndian.get(block, 48, 4));
        assertEquals(0x20000L, LittleEndian.get(block, 52, 4));
    }

    @Test
    void aDamagedIconOrALinuxLauncherIsRefusedAndNothingWritten() throws Exception {
        Path jar = Files.write(scratch.resolve("setup.jar"), new byte[] {1, 2, 3});
        Path output = Files.write(scratch.resolve("setup"), new byte[] {42});
        byte[] elf = InstallerRulesTest.elfProgram();
        Path icon = Files.write(scratch.resolve("product.ico"), new byte[] {0, 0, 2, 0, 1, 0});
        WindowsResources resources = new WindowsResources().icon(icon);
        assertEquals("stub: --icon needs a Windows launcher (talve-launcher.exe)", refused(() -> new Installer()
                .launcher(elf, "stub").payload(Installer.Payload.JAR, jar).windowsResources(resources).write(output)));
        Path launcher = NativeBuild.windowsBin("talve-launcher.exe");
        assertEquals(icon + ": not a valid icon file: no icon file header (a cursor, or another format renamed?)",
                refused(() -> new Installer().launcher(launcher).payload(Installer.Payload.JAR, jar).windowsResources(resources)
                        .write(output)));
        assertArrayEquals(new byte[] {42}, Files.readAllBytes(output));
    }
}
