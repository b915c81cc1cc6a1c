package sample;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.Collections;

/** Installs "a product": with -installDir DIR on the launcher's command line, writes DIR/installed.txt. */
public final class Main {
    public static void main(String[] args) throws IOException {
        int argc = Integer.parseInt(System.getenv("KORVU_BOOTSTRAP_ARGC"));
        String installDir = null;
        for (int i = 0; i + 1 < argc; ++i) {
            if ("-installDir".equals(System.getenv(String.format("KORVU_BOOTSTRAP_ARGV%02d", i)))) {
                installDir = System.getenv(String.format("KORVU_BOOTSTRAP_ARGV%02d", i + 1));
            }
        }
        if (installDir == null) {
            System.err.println("sample: no -installDir given");
            System.exit(2);
        }
        Path record = Paths.get(installDir, "installed.txt");
        Files.createDirectories(record.getParent());
        Files.write(record, Collections.singletonList("installed with runtime " + System.getProperty("java.home")),
                StandardCharsets.UTF_8);
        System.out.println("sample: installed into " + installDir);
    }
}
