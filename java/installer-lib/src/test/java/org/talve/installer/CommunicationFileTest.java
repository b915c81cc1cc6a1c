package org.talve.installer;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class CommunicationFileTest {
    final CommunicationFile comm = new CommunicationFile(Paths.get("unused"));

    @Test
    void escapesWhatTheReaderUnescapesAndEndsLinesInLineFeeds(@TempDir Path dir) throws Exception {
        Path file = dir.resolve("comm.properties");
        new CommunicationFile(file).set("k:\\", "C:\\a=b").set("#key", "#v").set("k:\\", "again").write();
        assertEquals(" #key=#v\nk\\:\\\\=again\n", new String(Files.readAllBytes(file), StandardCharsets.UTF_8));
    }

    @Test
    void refusesWhatTheReaderCouldNotGiveBack() {
        assertThrows(IllegalArgumentException.class, () -> comm.set("k", "two\nlines"));
        assertThrows(IllegalArgumentException.class, () -> comm.set("k", "cr\r"));
        assertThrows(IllegalArgumentException.class, () -> comm.set("k", " leading"));
        assertThrows(IllegalArgumentException.class, () -> comm.set("k", "trailing\t"));
        assertThrows(IllegalArgumentException.class, () -> comm.set("k", "a ?{x}? reference"));
        assertThrows(IllegalArgumentException.class, () -> comm.set("a=b", "v"));
        assertThrows(IllegalArgumentException.class, () -> comm.set("", "v"));
        assertThrows(IllegalArgumentException.class, () -> CommunicationFile.reference("x}?y"));
        // UTF-8 cannot carry a lone surrogate; written as "?" it would name another file.
        assertThrows(IllegalArgumentException.class, () -> comm.set("k", "C:\\keep\uD800"));
        assertThrows(IllegalArgumentException.class, () -> comm.set("k\uDC00", "v"));
        comm.set("k", "\uD83D\uDE00");
        StringBuilder long1 = new StringBuilder();
        while (long1.length() < CommunicationFile.LONGEST_LINE - 2) long1.append('x');
        comm.set("k", long1.toString());
        assertThrows(IllegalArgumentException.class, () -> comm.set("k", long1 + "é"));
    }

    @Test
    void referencesStayReferences() {
        comm.setWithReferences("log", CommunicationFile.reference("dir:1") + "/x=y.log");
        assertEquals("?{dir\\:1}?/x\\=y.log", comm.escapedValues().get("log"));
    }
}
