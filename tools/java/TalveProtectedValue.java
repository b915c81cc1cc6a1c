// Reading and writing protected property values in an installer jar, the way
// the talve launcher and talve-pack make them. One file, the JDK alone (Java 8
// and later); docs/protected-values.md states the format.
//
//   decodeSilentKey(System.getenv("KORVU_SILENT_K"))  the key the user gave the launcher
//   encrypt(key, text)                                a value for a record file
//   decrypt(key, value)                               the text of a silent file's value
//   keyFits(key, value)                               whether key opens value
//   forKey(key) / programKey()                        a derived key, for many values
//
// value = tag (4 characters) + text(IV, ciphertext, MAC) + check character:
// AES-256/CBC/PKCS#7 under a random IV, HMAC-SHA-256 over tag, IV and
// ciphertext, a base64 form of its own alphabet without padding characters.
// Deriving a user's key takes 600,000 PBKDF2 iterations (about half a
// second): the static methods keep the last key they derived, and a Key does
// any number of values. Key and text Strings are UTF-8 (a lone surrogate,
// which UTF-8 cannot carry, is refused); the byte[] methods take any bytes.
// A user's key is one the launcher can take: 1 to 200 bytes, no control
// character; any other is refused with the reason. Every way a value can fail gives one answer, an
// IllegalArgumentException "the key does not fit this value".
//
// From the command line (java TalveProtectedValue.java COMMAND ...):
//   decode-silent-key VALUE | encrypt KEY TEXT | decrypt KEY VALUE | fits KEY VALUE
//   vector KEY|--program-key IV-HEX TEXT   the value of TEXT under a given IV (test vectors)

import java.nio.ByteBuffer;
import java.nio.charset.CharacterCodingException;
import java.nio.charset.CodingErrorAction;
import java.nio.charset.StandardCharsets;
import java.security.GeneralSecurityException;
import java.security.MessageDigest;
import java.security.SecureRandom;
import java.util.Arrays;
import javax.crypto.Cipher;
import javax.crypto.Mac;
import javax.crypto.spec.IvParameterSpec;
import javax.crypto.spec.SecretKeySpec;

public final class TalveProtectedValue {
    public static final String ALPHABET = "q7KfZ2xNcVb9LmW4tRgY0pJhD5sAe8TuiB3oXkC1nGvMzy6HSjrwQPIaUElF_.dO";
    public static final String PROGRAM_KEY_TAG = "----";
    public static final int SHORTEST_VALUE = 20;
    public static final String USER_KEY_SALT = "talve-launcher protected property values 2";
    public static final int USER_KEY_ITERATIONS = 600000;
    public static final int LONGEST_TEXT = 4096;

    private static final String DOES_NOT_FIT = "the key does not fit this value";
    private static final int BLOCK = 16;
    private static final int MAC_BYTES = 32;
    private static final int[] PROGRAM_KEY_SHARE_A = {0x5e, 0x13, 0xa7, 0x42, 0x9c, 0x0b, 0xd8, 0x61, 0x37, 0xf2,
        0x84, 0x1d, 0x6a, 0xc5, 0x20, 0xbe, 0x73, 0x09, 0xe4, 0x5f, 0x98, 0x2c, 0xd1, 0x46, 0x0e, 0xb7, 0x6b, 0x35,
        0xfa, 0x81, 0x1c, 0x57};
    private static final int[] PROGRAM_KEY_SHARE_B = {0x2a, 0x72, 0xcb, 0x34, 0xf9, 0x24, 0xa4, 0x00, 0x41, 0x97,
        0xa9, 0x71, 0x05, 0xa0, 0x44, 0xcb, 0x06, 0x6d, 0xcb, 0x2f, 0xf1, 0x4f, 0xb4, 0x69, 0x7e, 0xc5, 0x04, 0x51,
        0x8f, 0xe2, 0x79, 0x23};
    private static final SecureRandom RANDOM = new SecureRandom();

    private static byte[] lastKeyText;
    private static Key lastKey;

    private TalveProtectedValue() {}

    /** A derived key: the encryption key, the MAC key and the tag its values begin with. */
    public static final class Key {
        private final byte[] encryptionKey;
        private final byte[] authenticationKey;
        private final String tag;

        private Key(byte[] master, String tag) {
            this.encryptionKey = subKey(master, "talve protected value encryption");
            this.authenticationKey = subKey(master, "talve protected value authentication");
            this.tag = tag;
        }

        public String tag() {
            return tag;
        }

        /** A new value of text (at most LONGEST_TEXT bytes), under a fresh random IV. */
        public String encrypt(byte[] text) {
            byte[] iv = new byte[BLOCK];
            RANDOM.nextBytes(iv);
            return protect(text, iv);
        }

        public String encrypt(String text) {
            return encrypt(utf8(text));
        }

        /** The text of a value; IllegalArgumentException when the key does not fit it. */
        public byte[] decryptBytes(String value) {
            return reveal(value);
        }

        /** As decryptBytes, for a text that is UTF-8 (IllegalArgumentException when it is not). */
        public String decrypt(String value) {
            byte[] text = reveal(value);
            try {
                return StandardCharsets.UTF_8.newDecoder().onMalformedInput(CodingErrorAction.REPORT)
                    .onUnmappableCharacter(CodingErrorAction.REPORT).decode(ByteBuffer.wrap(text)).toString();
            } catch (CharacterCodingException e) {
                throw new IllegalArgumentException("the text of this value is not UTF-8: use decryptBytes", e);
            }
        }

        public boolean fits(String value) {
            try {
                reveal(value);
                return true;
            } catch (IllegalArgumentException e) {
                return false;
            }
        }

        String protect(byte[] text, byte[] iv) {
            if (text.length > LONGEST_TEXT)
                throw new IllegalArgumentException("a protected value holds at most " + LONGEST_TEXT + " bytes of text");
            try {
                Cipher cipher = Cipher.getInstance("AES/CBC/PKCS5Padding");
                cipher.init(Cipher.ENCRYPT_MODE, new SecretKeySpec(encryptionKey, "AES"), new IvParameterSpec(iv));
                byte[] encrypted = cipher.doFinal(text);
                byte[] data = Arrays.copyOf(iv, BLOCK + encrypted.length + MAC_BYTES);
                System.arraycopy(encrypted, 0, data, BLOCK, encrypted.length);
                byte[] mac = macOf(data, BLOCK + encrypted.length);
                System.arraycopy(mac, 0, data, BLOCK + encrypted.length, MAC_BYTES);
                String value = tag + encode(data);
                return value + checkCharacter(value);
            } catch (GeneralSecurityException e) {
                throw new IllegalStateException(e);
            }
        }

        private byte[] reveal(String value) {
            if (value == null || value.length() < SHORTEST_VALUE || !value.startsWith(tag)
                    || checkCharacter(value.substring(0, value.length() - 1)) != value.charAt(value.length() - 1))
                throw new IllegalArgumentException(DOES_NOT_FIT);
            byte[] data = decode(value.substring(tag.length(), value.length() - 1));
            int cipherBytes = data == null ? -1 : data.length - BLOCK - MAC_BYTES;
            if (cipherBytes < BLOCK || cipherBytes % BLOCK != 0 || cipherBytes > LONGEST_TEXT + BLOCK)
                throw new IllegalArgumentException(DOES_NOT_FIT);
            byte[] mac = macOf(data, BLOCK + cipherBytes);
            // Constant time, and before anything is decrypted.
            if (!MessageDigest.isEqual(mac, Arrays.copyOfRange(data, BLOCK + cipherBytes, data.length)))
                throw new IllegalArgumentException(DOES_NOT_FIT);
            try {
                Cipher cipher = Cipher.getInstance("AES/CBC/PKCS5Padding");
                cipher.init(Cipher.DECRYPT_MODE, new SecretKeySpec(encryptionKey, "AES"),
                    new IvParameterSpec(data, 0, BLOCK));
                return cipher.doFinal(data, BLOCK, cipherBytes);
            } catch (GeneralSecurityException e) {
                throw new IllegalArgumentException(DOES_NOT_FIT);
            }
        }

        private byte[] macOf(byte[] data, int length) {
            try {
                Mac mac = Mac.getInstance("HmacSHA256");
                mac.init(new SecretKeySpec(authenticationKey, "HmacSHA256"));
                mac.update(tag.getBytes(StandardCharsets.US_ASCII));
                mac.update(data, 0, length);
                return mac.doFinal();
            } catch (GeneralSecurityException e) {
                throw new IllegalStateException(e);
            }
        }
    }

    /** The launcher's own key, which protects KORVU_SILENT_K: public by nature, not a secret. */
    public static Key programKey() {
        byte[] combined = new byte[32];
        for (int i = 0; i < combined.length; ++i) combined[i] = (byte) (PROGRAM_KEY_SHARE_A[i] ^ PROGRAM_KEY_SHARE_B[i]);
        try {
            return new Key(MessageDigest.getInstance("SHA-256").digest(combined), PROGRAM_KEY_TAG);
        } catch (GeneralSecurityException e) {
            throw new IllegalStateException(e);
        }
    }

    /** A user's key, one the launcher can take; slow on purpose. */
    public static Key forKey(byte[] key) {
        if (key.length == 0) throw new IllegalArgumentException("the key is empty");
        if (key.length > 200)
            throw new IllegalArgumentException("the key is longer than 200 bytes, the most the launcher's prompt takes");
        for (byte b : key)
            if ((b & 0xff) < 0x20 || b == 0x7f)
                throw new IllegalArgumentException("the key holds a control character (such as a Tab), "
                    + "which the launcher's prompt cannot take");
        byte[] master = pbkdf2(key);
        return new Key(master, encode(subKey(master, "talve protected value tag")).substring(0, 4));
    }

    public static Key forKey(String key) {
        return forKey(utf8(key));
    }

    /** The key behind KORVU_SILENT_K; IllegalArgumentException when the value is damaged. */
    public static String decodeSilentKey(String silentK) {
        return programKey().decrypt(silentK);
    }

    /** As decodeSilentKey, as the launcher got the key: the bytes of its command line or console. */
    public static byte[] decodeSilentKeyBytes(String silentK) {
        return programKey().decryptBytes(silentK);
    }

    /** A new value of text under the user's key (a fresh random IV each time). */
    public static String encrypt(String key, String text) {
        return cachedKey(key).encrypt(text);
    }

    /** The text of a value; IllegalArgumentException when the key does not fit it. */
    public static String decrypt(String key, String value) {
        return cachedKey(key).decrypt(value);
    }

    /** True when the value is intact and was made with this key. */
    public static boolean keyFits(String key, String value) {
        return cachedKey(key).fits(value);
    }

    // String.getBytes would write "?" for a lone surrogate: another key, another text.
    static byte[] utf8(String text) {
        for (int i = 0; i < text.length(); ++i) {
            char c = text.charAt(i);
            if (Character.isHighSurrogate(c) && i + 1 < text.length() && Character.isLowSurrogate(text.charAt(i + 1))) ++i;
            else if (Character.isSurrogate(c)) throw new IllegalArgumentException("a lone UTF-16 surrogate, which UTF-8 cannot carry");
        }
        return text.getBytes(StandardCharsets.UTF_8);
    }

    /** The check character that ends a value: the alphabet at the byte sum of the rest, modulo 64. */
    public static char checkCharacter(String rest) {
        int sum = 0;
        for (int i = 0; i < rest.length(); ++i) sum += rest.charAt(i) & 0xff;
        return ALPHABET.charAt(sum % 64);
    }

    private static synchronized Key cachedKey(String key) {
        byte[] text = utf8(key);
        if (lastKey == null || !Arrays.equals(text, lastKeyText)) {
            lastKey = forKey(text);
            lastKeyText = text;
        }
        return lastKey;
    }

    // PBKDF2-HMAC-SHA-256 over the key's bytes, one 32-byte block. By hand
    // rather than through SecretKeyFactory, whose keys are chars, not bytes.
    static byte[] pbkdf2(byte[] key) {
        try {
            Mac mac = Mac.getInstance("HmacSHA256");
            mac.init(new SecretKeySpec(key, "HmacSHA256"));
            mac.update(USER_KEY_SALT.getBytes(StandardCharsets.US_ASCII));
            byte[] u = mac.doFinal(new byte[] {0, 0, 0, 1});
            byte[] t = u.clone();
            for (int i = 1; i < USER_KEY_ITERATIONS; ++i) {
                u = mac.doFinal(u);
                for (int b = 0; b < t.length; ++b) t[b] ^= u[b];
            }
            return t;
        } catch (GeneralSecurityException e) {
            throw new IllegalStateException(e);
        }
    }

    // HKDF-Expand of one block: HMAC(master, label || 0x01).
    static byte[] subKey(byte[] master, String label) {
        try {
            Mac mac = Mac.getInstance("HmacSHA256");
            mac.init(new SecretKeySpec(master, "HmacSHA256"));
            mac.update(label.getBytes(StandardCharsets.US_ASCII));
            return mac.doFinal(new byte[] {1});
        } catch (GeneralSecurityException e) {
            throw new IllegalStateException(e);
        }
    }

    static String encode(byte[] bytes) {
        StringBuilder text = new StringBuilder();
        int bits = 0, count = 0;
        for (byte b : bytes) {
            bits = (bits << 8) | (b & 0xff);
            count += 8;
            while (count >= 6) {
                count -= 6;
                text.append(ALPHABET.charAt((bits >> count) & 63));
            }
        }
        if (count > 0) text.append(ALPHABET.charAt((bits << (6 - count)) & 63));
        return text.toString();
    }

    // Strict: only the one text that encode gives for some bytes; null otherwise.
    static byte[] decode(String text) {
        if (text.length() % 4 == 1) return null;
        byte[] bytes = new byte[text.length() * 6 / 8];
        int bits = 0, count = 0, n = 0;
        for (int i = 0; i < text.length(); ++i) {
            int index = ALPHABET.indexOf(text.charAt(i));
            if (index < 0) return null;
            bits = ((bits << 6) | index) & 0xfff;
            count += 6;
            if (count >= 8) {
                count -= 8;
                bytes[n++] = (byte) (bits >> count);
            }
        }
        if ((bits & ((1 << count) - 1)) != 0) return null;
        return bytes;
    }

    static Key keyOfArgument(String argument) {
        return argument.equals("--program-key") ? programKey() : forKey(argument);
    }

    static byte[] hex(String text) {
        if (text.length() % 2 != 0) throw new IllegalArgumentException("odd number of hex digits");
        byte[] bytes = new byte[text.length() / 2];
        for (int i = 0; i < bytes.length; ++i) bytes[i] = (byte) Integer.parseInt(text.substring(2 * i, 2 * i + 2), 16);
        return bytes;
    }

    public static void main(String[] args) {
        try {
            if (args.length == 2 && args[0].equals("decode-silent-key")) {
                System.out.println(decodeSilentKey(args[1]));
            } else if (args.length == 3 && args[0].equals("encrypt")) {
                System.out.println(encrypt(args[1], args[2]));
            } else if (args.length == 3 && args[0].equals("decrypt")) {
                System.out.println(decrypt(args[1], args[2]));
            } else if (args.length == 3 && args[0].equals("fits")) {
                System.out.println(keyFits(args[1], args[2]));
            } else if (args.length == 4 && args[0].equals("vector") && args[2].length() == 2 * BLOCK) {
                System.out.println(keyOfArgument(args[1]).protect(args[3].getBytes(StandardCharsets.UTF_8), hex(args[2])));
            } else {
                System.err.println("usage: decode-silent-key VALUE | encrypt KEY TEXT | decrypt KEY VALUE | fits KEY VALUE"
                    + " | vector KEY|--program-key IV-HEX TEXT");
                System.exit(2);
            }
        } catch (IllegalArgumentException e) {
            System.err.println(e.getMessage());
            System.exit(1);
        }
    }
}
