// Drives the Java reference of protected values for the end-to-end tests:
// one JVM and one derivation per key for thousands of values. Reads lines
// from standard input, answers one line each:
//   encrypt KEY TEXT     -> the value
//   vector KEY IV TEXT   -> the value under that IV
//   decrypt KEY VALUE    -> the text, or "refused"
// KEY and TEXT are hexadecimal bytes ("-" for the program's key, "" as "-"
// in TEXT for an empty text).

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.util.HashMap;
import java.util.Map;

public final class ValueBatch {
    private static final Map<String, TalveProtectedValue.Key> keys = new HashMap<>();

    private static TalveProtectedValue.Key key(String hexKey) {
        return keys.computeIfAbsent(hexKey, k -> k.equals("-") ? TalveProtectedValue.programKey()
                                                                : TalveProtectedValue.forKey(TalveProtectedValue.hex(k)));
    }

    private static byte[] bytes(String hexText) {
        return hexText.equals("-") ? new byte[0] : TalveProtectedValue.hex(hexText);
    }

    private static String hex(byte[] bytes) {
        StringBuilder text = new StringBuilder();
        for (byte b : bytes) text.append(String.format("%02x", b & 0xff));
        return text.length() == 0 ? "-" : text.toString();
    }

    public static void main(String[] args) throws IOException {
        BufferedReader in = new BufferedReader(new InputStreamReader(System.in, StandardCharsets.ISO_8859_1));
        StringBuilder out = new StringBuilder();
        for (String line; (line = in.readLine()) != null;) {
            String[] word = line.split(" ", -1);
            if (word[0].equals("encrypt")) {
                out.append(key(word[1]).encrypt(bytes(word[2])));
            } else if (word[0].equals("vector")) {
                out.append(key(word[1]).protect(bytes(word[3]), TalveProtectedValue.hex(word[2])));
            } else {
                try {
                    out.append(hex(key(word[1]).decryptBytes(word[2])));
                } catch (IllegalArgumentException e) {
                    out.append("refused");
                }
            }
            out.append('\n');
        }
        System.out.print(out);
    }
}
