package org.talve.maven.pack;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;

import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** What the Java packer refuses, and that a refusal leaves the output as it was. */
class InstallerRulesTest {
    @TempDir
    Path scratch;

    static byte[] elfProgram() {
        byte[] bytes = new byte[LauncherStub.MIN_SIZE];
        bytes[0] = 0x7f;
        bytes[1] = 'E';
        bytes[2] = 'L';
        bytes[3] = 'F';
        bytes[4] = 2;
        bytes[5] = 1;
        bytes[16] = 3;
        return bytes;
    }

    private String refusal(Installer installer, Path output) {
        return assertThrows(PackException.class, () -> installer.write(output)).getMessage();
    }

    @Test
    void refusesWhatTheLauncherCouldNotRun() throws Exception {
        Path jar = Files.write(scratch.resolve("setup.jar"), new byte[] {1, 2, 3});
        Path output = Files.write(scratch.resolve("setup"), new byte[] {42});
        byte[] small = Arrays.copyOf(elfProgram(), 1000);
        assertTrue(refusal(new Installer().launcher(small, "stub").payload(Installer.Payload.JAR, jar), output).contains("too small"));

        byte[] carrying = Arrays.copyOf(elfProgram(), LauncherStub.MIN_SIZE + 2048);
        System.arraycopy(BootstrapTable.marker(), 0, carrying, LauncherStub.MIN_SIZE + 1024, BootstrapTable.MARKER_SIZE);
        assertTrue(refusal(new Installer().launcher(carrying, "stub").payload(Installer.Payload.JAR, jar), output)
                .contains("already carries a bootstrap table"));

        Path usage = Files.write(scratch.resolve("usage.txt"), new byte[BootstrapTable.USAGE_LIMIT]);
        assertTrue(refusal(new Installer().launcher(elfProgram(), "stub").payload(Installer.Payload.JAR, jar)
                .payload(Installer.Payload.USAGE, usage), output).contains("too long: the launcher reads a usage text of less than 4096"));

        assertTrue(refusal(new Installer().launcher(elfProgram(), "stub").payload(Installer.Payload.JAR, output), output)
                .contains("is also the input"));
        Path notPacked = Files.write(scratch.resolve("jvm"), new byte[100]);
        assertTrue(refusal(new Installer().launcher(elfProgram(), "stub").payload(Installer.Payload.JAR, jar)
                .payload(Installer.Payload.RUNTIME, notPacked), output).contains("not a packed runtime"));
        assertArrayEquals(new byte[] {42}, Files.readAllBytes(output));
        try (java.util.stream.Stream<Path> left = Files.list(scratch)) {
            assertFalse(left.anyMatch(p -> p.getFileName().toString().contains(".partial-")));
        }
    }

    @Test
    void storesNamesOfUpToTwelveBytesAndTheFixedOnes() throws Exception {
        Path twelve = scratch.resolve("filesets.jar");
        assertEquals("filesets.jar", Installer.storedName(Installer.Payload.JAR, twelve, null));
        assertEquals("check.jar", Installer.storedName(Installer.Payload.CHECK_JAR, scratch.resolve("a-long-checking.jar"), null));
        assertEquals("req.txt", Installer.storedName(Installer.Payload.REQUIREMENTS, scratch.resolve("requirements.txt"), null));
        // Twelve bytes, not characters: the table's field holds bytes.
        assertThrows(PackException.class, () -> Installer.storedName(Installer.Payload.DATA, scratch.resolve("d\u00e9j\u00e0-vu.jar"), null));
        assertThrows(PackException.class, () -> Installer.storedName(Installer.Payload.JAR, twelve, "../setup.jar"));
    }

    @Test
    void signatureOfAWindowsLauncherIsLeftOut() throws Exception {
        Path launcher = NativeBuild.windowsBin("talve-launcher.exe");
        byte[] unsigned = Files.readAllBytes(launcher);
        PeImage headers = PeImage.read(unsigned);
        byte[] signed = Arrays.copyOf(unsigned, unsigned.length + 16);
        LittleEndian.put(signed, headers.securityEntryOffset, unsigned.length, 4);
        LittleEndian.put(signed, headers.securityEntryOffset + 4, 16, 4);
        Path jar = Files.write(scratch.resolve("setup.jar"), new byte[] {1, 2, 3});
        Installer fromSigned = new Installer().launcher(signed, "signed").payload(Installer.Payload.JAR, jar);
        fromSigned.write(scratch.resolve("a/setup.exe"));
        assertTrue(fromSigned.launcherSignatureLeftOut());
        new Installer().launcher(unsigned, "unsigned").payload(Installer.Payload.JAR, jar).write(scratch.resolve("b/setup.exe"));
        assertArrayEquals(Files.readAllBytes(scratch.resolve("b/setup.exe")), Files.readAllBytes(scratch.resolve("a/setup.exe")));
    }
}
