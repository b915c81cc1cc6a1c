// Reading and writing protected property values in an installer jar, the way
// the talve launcher and talve-pack make them. One file, the JDK alone.
//
//   decodeSilentKey(System.getenv("KORVU_SILENT_K"))  the key the user gave the launcher
//   encrypt(key, text)                                a value for a record file
//   decrypt(key, value)                               the text of a silent file's value
//   keyFits(key, value)                               whether key opens value
//
// value = tag (4 characters) + text(IV, ciphertext) + check character, with
// AES-256/CBC/PKCS#7, a random IV, and a base64 form of its own alphabet
// (no padding characters). Values of the launcher's own key carry the tag
// "----"; values of a user's key a tag derived from the key. Keys and texts
// are UTF-8. This file follows src/crypto/protected_value.cpp and must change
// with it.
//
// From the command line (java TalveProtectedValue.java COMMAND ...):
//   decode-silent-key VALUE | encrypt KEY TEXT | decrypt KEY VALUE | fits KEY VALUE

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
    public static final String USER_KEY_SALT = "talve-launcher protected property values 1";
    public static final int USER_KEY_ITERATIONS = 120000;

    private static final int BLOCK = 16;
    private static final int[] PROGRAM_KEY_SHARE_A = {0x5e, 0x13, 0xa7, 0x42, 0x9c, 0x0b, 0xd8, 0x61, 0x37, 0xf2,
        0x84, 0x1d, 0x6a, 0xc5, 0x20, 0xbe, 0x73, 0x09, 0xe4, 0x5f, 0x98, 0x2c, 0xd1, 0x46, 0x0e, 0xb7, 0x6b, 0x35,
        0xfa, 0x81, 0x1c, 0x57};
    private static final int[] PROGRAM_KEY_SHARE_B = {0x2a, 0x72, 0xcb, 0x34, 0xf9, 0x24, 0xa4, 0x00, 0x41, 0x97,
        0xa9, 0x71, 0x05, 0xa0, 0x44, 0xcb, 0x06, 0x6d, 0xcb, 0x2f, 0xf1, 0x4f, 0xb4, 0x69, 0x7e, 0xc5, 0x04, 0x51,
        0x8f, 0xe2, 0x79, 0x23};

    private TalveProtectedValue() {}

    /** The key behind KORVU_SILENT_K; IllegalArgumentException when the value is damaged. */
    public static String decodeSilentKey(String silentK) {
        return new String(reveal(programKey(), PROGRAM_KEY_TAG, silentK), StandardCharsets.UTF_8);
    }

    /** A new value of text under the user's key (a fresh random IV each time). */
    public static String encrypt(String key, String text) {
        byte[] aesKey = userKey(key);
        return protect(aesKey, tagOf(aesKey), text.getBytes(StandardCharsets.UTF_8));
    }

    /** The text of a value; IllegalArgumentException when the key does not fit it. */
    public static String decrypt(String key, String value) {
        byte[] aesKey = userKey(key);
        return new String(reveal(aesKey, tagOf(aesKey), value), StandardCharsets.UTF_8);
    }

    /** True when the key's tag begins the value and the value decrypts with valid padding. */
    public static boolean keyFits(String key, String value) {
        try {
            decrypt(key, value);
            return true;
        } catch (IllegalArgumentException e) {
            return false;
        }
    }

    /** The check character that ends a value: the alphabet at the byte sum of the rest, modulo 64. */
    public static char checkCharacter(String rest) {
        int sum = 0;
        for (byte b : rest.getBytes(StandardCharsets.ISO_8859_1)) sum += b & 0xff;
        return ALPHABET.charAt(sum % 64);
    }

    static byte[] programKey() {
        byte[] combined = new byte[32];
        for (int i = 0; i < combined.length; ++i) combined[i] = (byte) (PROGRAM_KEY_SHARE_A[i] ^ PROGRAM_KEY_SHARE_B[i]);
        try {
            return MessageDigest.getInstance("SHA-256").digest(combined);
        } catch (GeneralSecurityException e) {
            throw new IllegalStateException(e);
        }
    }

    // PBKDF2-HMAC-SHA-256 over the key's bytes, one 32-byte block.
    static byte[] userKey(String key) {
        try {
            Mac mac = Mac.getInstance("HmacSHA256");
            mac.init(new SecretKeySpec(key.getBytes(StandardCharsets.UTF_8), "HmacSHA256"));
            mac.update(USER_KEY_SALT.getBytes(StandardCharsets.UTF_8));
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

    static String tagOf(byte[] aesKey) {
        try {
            Cipher cipher = Cipher.getInstance("AES/ECB/NoPadding");
            cipher.init(Cipher.ENCRYPT_MODE, new SecretKeySpec(aesKey, "AES"));
            return encode(cipher.doFinal(new byte[BLOCK])).substring(0, 4);
        } catch (GeneralSecurityException e) {
            throw new IllegalStateException(e);
        }
    }

    static String protect(byte[] aesKey, String tag, byte[] text) {
        byte[] iv = new byte[BLOCK];
        new SecureRandom().nextBytes(iv);
        try {
            Cipher cipher = Cipher.getInstance("AES/CBC/PKCS5Padding");
            cipher.init(Cipher.ENCRYPT_MODE, new SecretKeySpec(aesKey, "AES"), new IvParameterSpec(iv));
            byte[] encrypted = cipher.doFinal(text);
            byte[] data = Arrays.copyOf(iv, BLOCK + encrypted.length);
            System.arraycopy(encrypted, 0, data, BLOCK, encrypted.length);
            String value = tag + encode(data);
            return value + checkCharacter(value);
        } catch (GeneralSecurityException e) {
            throw new IllegalStateException(e);
        }
    }

    static byte[] reveal(byte[] aesKey, String tag, String value) {
        if (value == null || value.length() < SHORTEST_VALUE || !value.startsWith(tag)
                || checkCharacter(value.substring(0, value.length() - 1)) != value.charAt(value.length() - 1))
            throw new IllegalArgumentException("not a value of this key");
        byte[] data = decode(value.substring(4, value.length() - 1));
        if (data.length < 2 * BLOCK || data.length % BLOCK != 0) throw new IllegalArgumentException("damaged value");
        try {
            Cipher cipher = Cipher.getInstance("AES/CBC/PKCS5Padding");
            cipher.init(Cipher.DECRYPT_MODE, new SecretKeySpec(aesKey, "AES"),
                new IvParameterSpec(data, 0, BLOCK));
            return cipher.doFinal(data, BLOCK, data.length - BLOCK);
        } catch (GeneralSecurityException e) {
            throw new IllegalArgumentException("the key does not fit the value", e);
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

    static byte[] decode(String text) {
        if (text.length() % 4 == 1) throw new IllegalArgumentException("damaged value");
        byte[] bytes = new byte[text.length() * 6 / 8];
        int bits = 0, count = 0, n = 0;
        for (int i = 0; i < text.length(); ++i) {
            int index = ALPHABET.indexOf(text.charAt(i));
            if (index < 0) throw new IllegalArgumentException("damaged value");
            bits = (bits << 6) | index;
            count += 6;
            if (count >= 8) {
                count -= 8;
                bytes[n++] = (byte) (bits >> count);
            }
        }
        if ((bits & ((1 << count) - 1)) != 0) throw new IllegalArgumentException("damaged value");
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
            } else {
                System.err.println("usage: decode-silent-key VALUE | encrypt KEY TEXT | decrypt KEY VALUE | fits KEY VALUE");
                System.exit(2);
            }
        } catch (IllegalArgumentException e) {
            System.err.println(e.getMessage());
            System.exit(1);
        }
    }
}
