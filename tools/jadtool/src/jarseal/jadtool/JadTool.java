package jarseal.jadtool;

import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.FileInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.PrintStream;
import java.net.URI;
import java.nio.charset.Charset;
import java.nio.charset.StandardCharsets;
import java.nio.file.AccessDeniedException;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.security.GeneralSecurityException;
import java.security.Key;
import java.security.KeyStore;
import java.security.KeyStoreException;
import java.security.MessageDigest;
import java.security.PrivateKey;
import java.security.Signature;
import java.security.UnrecoverableKeyException;
import java.security.cert.Certificate;
import java.security.cert.CertificateException;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Base64;
import java.util.Collections;
import java.util.HashMap;
import java.util.HashSet;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Objects;
import java.util.Set;

/**
 * Adds the signer's certificates and the jar's signature to a MIDlet suite descriptor (MIDP 2.0 trusted suites).
 *
 * <p>Every failure prints one line on standard error, exits with a status other than 0 and writes no output file:
 * the result is written beside the output file and renamed over it only when everything has succeeded. The status
 * tells a caller which part of the key store was refused without reading the message: {@link ToolException}.
 *
 * <p>Compiled for Java 8, so it runs on every runtime from 8 on: it uses no later library call.
 */
public final class JadTool {
    static final String CERT_PREFIX = "MIDlet-Certificate-";
    static final String JAR_SIGNATURE = "MIDlet-Jar-RSA-SHA1";

    private static final String USAGE = String.join(System.lineSeparator(),
        "Usage: java -jar jadtool.jar <command> <options>",
        "  -help",
        "  -addcert   -alias <key alias> [-storepass <password>] [-keystore <keystore>]",
        "             [-certnum <number>] [-chainnum <number>] [-encoding <encoding>]",
        "             -inputjad <filename> -outputjad <filename>",
        "  -addjarsig [-jarfile <filename>] [-keypass <password>] -alias <key alias>",
        "             -storepass <password> [-keystore <keystore>] [-encoding <encoding>]",
        "             -inputjad <filename> -outputjad <filename>",
        "  -showcert  [([-certnum <number>] [-chainnum <number>]) | [-all]]",
        "             [-encoding <encoding>] -inputjad <filename>",
        "  -serve [<in fd> <out fd>]...",
        "             answer runs of the commands above read from standard input, one after",
        "             another, until it closes (how Jarseal keeps one tool running for a batch);",
        "             each pair of inherited file descriptors is one more channel, served at once",
        "",
        "-addcert writes MIDlet-Certificate-<chainnum>-<n> for each certificate of the alias's chain,",
        "signer first, leaving out a self-signed root unless it is the only certificate; the chain's",
        "earlier entries are replaced. With -certnum only that one certificate of the chain is written.",
        "-addjarsig writes MIDlet-Jar-RSA-SHA1, the SHA1withRSA signature of the jar file; the jar",
        "defaults to MIDlet-Jar-URL beside the input descriptor, -keypass to -storepass.",
        "Key stores may be JKS or PKCS12; -keystore defaults to ~/.keystore, -encoding to UTF-8.",
        "A descriptor read as UTF-8 that is not valid UTF-8 is taken as 8-bit text and its bytes are kept.",
        "Output lines are \"name: value\" ended by CR LF.",
        "",
        "Exit status: 0 done; 2 the key store file is missing, unreadable or not a key store;",
        "3 wrong store password; 4 the alias is not in the store, or has no certificate or no RSA",
        "private key; 5 wrong key password; 1 any other failure.");

    private static final Map<String, Set<String>> OPTIONS = optionsOfCommands();

    private static Map<String, Set<String>> optionsOfCommands() {
        Map<String, Set<String>> options = new HashMap<>();
        options.put("-addcert", setOf("-alias", "-storepass", "-keystore", "-certnum", "-chainnum", "-encoding",
                                      "-inputjad", "-outputjad"));
        options.put("-addjarsig", setOf("-jarfile", "-keypass", "-alias", "-storepass", "-keystore", "-encoding",
                                        "-inputjad", "-outputjad"));
        options.put("-showcert", setOf("-certnum", "-chainnum", "-all", "-encoding", "-inputjad"));
        options.put("-help", setOf());
        return Collections.unmodifiableMap(options);
    }

    private static Set<String> setOf(String... names) {
        return Collections.unmodifiableSet(new HashSet<>(Arrays.asList(names)));
    }

    private JadTool() {}

    public static void main(String[] args) {
        if (args.length >= 1 && args[0].equals(JadServer.COMMAND)) {
            System.exit(JadServer.serve(Arrays.copyOfRange(args, 1, args.length)));
        }
        System.exit(execute(args, System.out, System.err));
    }

    /**
     * One run of the tool: what {@code main} does short of ending the process. Returns the exit status; messages
     * go to {@code err}, results to {@code out}.
     */
    static int execute(String[] args, PrintStream out, PrintStream err) {
        int status;
        try {
            status = run(args, out);
        } catch (ToolException e) {
            err.println("jadtool: " + e.getMessage());
            status = e.status;
        } catch (RuntimeException e) {
            err.println("jadtool: unexpected failure: " + describe(e));
            status = ToolException.OTHER;
        }
        out.flush();
        err.flush();
        return status;
    }

    static int run(String[] args, PrintStream out) throws ToolException {
        if (args.length == 0) {
            throw new ToolException("no command given (try -help)");
        }
        String command = args[0];
        Set<String> allowed = OPTIONS.get(command);
        if (allowed == null) {
            throw new ToolException("unknown command " + command + " (try -help)");
        }
        Map<String, String> options = parseOptions(args, allowed);
        switch (command) {
            case "-help":
                out.println(USAGE);
                break;
            case "-addcert":
                addCert(options);
                break;
            case "-addjarsig":
                addJarSignature(options);
                break;
            default:
                showCert(options, out);
                break;
        }
        return 0;
    }

    private static Map<String, String> parseOptions(String[] args, Set<String> allowed) throws ToolException {
        Map<String, String> options = new LinkedHashMap<>();
        for (int i = 1; i < args.length; i++) {
            String name = args[i];
            if (!allowed.contains(name)) {
                throw new ToolException("option " + name + " is not known to " + args[0] + " (try -help)");
            }
            String value = "";
            if (!name.equals("-all")) {
                if (i + 1 >= args.length) {
                    throw new ToolException("option " + name + " needs a value");
                }
                value = args[++i];
            }
            if (options.put(name, value) != null) {
                throw new ToolException("option " + name + " is given twice");
            }
        }
        return options;
    }

    private static String required(Map<String, String> options, String name) throws ToolException {
        String value = options.get(name);
        if (value == null) {
            throw new ToolException("option " + name + " is required");
        }
        return value;
    }

    private static int number(Map<String, String> options, String name) throws ToolException {
        String value = options.get(name);
        if (value == null) {
            return 1;
        }
        try {
            int n = Integer.parseInt(value);
            if (n >= 1) {
                return n;
            }
        } catch (NumberFormatException e) {
            // reported below
        }
        throw new ToolException("option " + name + " needs a whole number from 1, not \"" + value + "\"");
    }

    private static Charset encoding(Map<String, String> options) throws ToolException {
        String name = options.get("-encoding");
        if (name == null) {
            return StandardCharsets.UTF_8;
        }
        try {
            return Charset.forName(name);
        } catch (IllegalArgumentException e) {
            throw new ToolException("unknown encoding " + name);
        }
    }

    private static Path path(String name) throws ToolException {
        try {
            return Paths.get(name);
        } catch (InvalidPathException e) {
            throw new ToolException("invalid file name \"" + name + "\"");
        }
    }

    /**
     * The largest key store file read: a store holds a few keys and certificates, a few kilobytes; anything far
     * larger is no key store, and is not read into memory whole.
     */
    private static final long MAX_KEY_STORE_BYTES = 16L << 20;

    /**
     * The last key store loaded, with the keys recovered from it. A server answers many requests with one store;
     * parsing it and recovering its key (JKS's key protection is slow until the runtime has compiled it, and is
     * compiled anew again and again) is most of a request's work. It is reused only for a file of exactly the same
     * bytes, of the same type, opened with the same password, so a request gets what loading the file would give.
     */
    private static final class LoadedStore {
        final byte[] bytes;
        final String type;
        final String password;
        final KeyStore store;
        final Map<String, Key> keys = new HashMap<>();

        LoadedStore(byte[] bytes, String type, String password, KeyStore store) {
            this.bytes = bytes;
            this.type = type;
            this.password = password;
            this.store = store;
        }

        boolean holds(byte[] otherBytes, String otherType, String otherPassword) {
            return type.equals(otherType) && Objects.equals(password, otherPassword)
                && Arrays.equals(bytes, otherBytes);
        }
    }

    private static LoadedStore lastStore;

    private static KeyStore loadKeyStore(Map<String, String> options) throws ToolException {
        return loadStore(options).store;
    }

    private static synchronized LoadedStore loadStore(Map<String, String> options) throws ToolException {
        String name = options.get("-keystore");
        Path file = name != null ? path(name) : Paths.get(System.getProperty("user.home"), ".keystore");
        if (!Files.isRegularFile(file)) {
            throw new ToolException(ToolException.KEY_STORE, "key store " + file + " not found");
        }
        String storepass = options.get("-storepass");
        char[] password = storepass != null ? storepass.toCharArray() : null;
        try {
            byte[] bytes = readKeyStore(file);
            String type = storeType(bytes);
            if (type == null) {
                throw new ToolException(ToolException.KEY_STORE, file + " is not a JKS or PKCS12 key store");
            }
            if (lastStore != null && lastStore.holds(bytes, type, storepass)) {
                return lastStore;
            }
            KeyStore store = KeyStore.getInstance(type);
            store.load(new ByteArrayInputStream(bytes), password);
            lastStore = new LoadedStore(bytes, type, storepass, store);
            return lastStore;
        } catch (IOException e) {
            // Both store types report a failed password check as an
            // IOException caused by an UnrecoverableKeyException.
            if (e.getCause() instanceof UnrecoverableKeyException) {
                throw new ToolException(ToolException.STORE_PASSWORD,
                                        "wrong password for key store " + file + " (or the store is damaged)");
            }
            throw new ToolException(ToolException.KEY_STORE, "cannot read key store " + file + ": " + describe(e));
        } catch (GeneralSecurityException e) {
            throw new ToolException(ToolException.KEY_STORE, "cannot read key store " + file + ": " + describe(e));
        }
    }

    /** The key store file's bytes; an IOException for one beyond {@link #MAX_KEY_STORE_BYTES}. */
    private static byte[] readKeyStore(Path file) throws IOException {
        try (InputStream in = new FileInputStream(file.toFile())) {
            ByteArrayOutputStream bytes = new ByteArrayOutputStream();
            byte[] buffer = new byte[8192];
            for (int n; (n = in.read(buffer)) > 0;) {
                if (bytes.size() + n > MAX_KEY_STORE_BYTES) {
                    throw new IOException("larger than " + (MAX_KEY_STORE_BYTES >> 20) + " MB");
                }
                bytes.write(buffer, 0, n);
            }
            return bytes.toByteArray();
        }
    }

    /** The alias's key from the store {@link #loadStore} gave, recovered once per alias and password. */
    private static Key keyOf(LoadedStore loaded, String alias, String keypass) throws GeneralSecurityException {
        String wanted = alias + '\0' + keypass;
        synchronized (JadTool.class) {
            Key key = loaded.keys.get(wanted);
            if (key == null) {
                key = loaded.store.getKey(alias, keypass.toCharArray());
                if (key != null) {
                    loaded.keys.put(wanted, key);
                }
            }
            return key;
        }
    }

    /**
     * The key store type the content starts like: JKS and JCEKS by their magic numbers,
     * PKCS12 by the start of its DER encoding (a SEQUENCE whose first element is the version INTEGER 3, which no
     * certificate or private key file starts with); null for anything else.
     */
    private static String storeType(byte[] head) {
        int n = head.length;
        if (startsWith(head, n, 0xFE, 0xED, 0xFE, 0xED)) {
            return "JKS";
        }
        if (startsWith(head, n, 0xCE, 0xCE, 0xCE, 0xCE)) {
            return "JCEKS";
        }
        if (n < 2 || (head[0] & 0xFF) != 0x30) {
            return null;
        }
        // The SEQUENCE's length: one byte, indefinite (0x80), or 0x8k and k bytes.
        int lengthByte = head[1] & 0xFF;
        int at = 2 + (lengthByte > 0x80 ? lengthByte - 0x80 : 0);
        if (at + 3 > n) {
            return null;
        }
        return (head[at] & 0xFF) == 0x02 && (head[at + 1] & 0xFF) == 0x01 && (head[at + 2] & 0xFF) == 0x03
            ? "PKCS12" : null;
    }

    private static boolean startsWith(byte[] bytes, int length, int... prefix) {
        if (length < prefix.length) {
            return false;
        }
        for (int i = 0; i < prefix.length; i++) {
            if ((bytes[i] & 0xFF) != prefix[i]) {
                return false;
            }
        }
        return true;
    }

    private static void requireAlias(KeyStore store, String alias) throws ToolException {
        try {
            if (!store.containsAlias(alias)) {
                throw new ToolException(ToolException.ALIAS, "alias \"" + alias + "\" not found in the key store");
            }
        } catch (KeyStoreException e) {
            throw new ToolException("cannot read the key store: " + describe(e));
        }
    }

    /** The alias's certificates, signer first, without a self-signed root unless it is the only one. */
    static List<X509Certificate> chainOf(KeyStore store, String alias) throws ToolException {
        requireAlias(store, alias);
        Certificate[] chain;
        try {
            chain = store.getCertificateChain(alias);
            if (chain == null || chain.length == 0) {
                Certificate single = store.getCertificate(alias);
                chain = single != null ? new Certificate[] {single} : new Certificate[0];
            }
        } catch (KeyStoreException e) {
            throw new ToolException("cannot read the key store: " + describe(e));
        }
        if (chain.length == 0) {
            throw new ToolException(ToolException.ALIAS, "alias \"" + alias + "\" has no certificate");
        }
        List<X509Certificate> result = new ArrayList<>();
        for (Certificate c : chain) {
            if (!(c instanceof X509Certificate)) {
                throw new ToolException(ToolException.ALIAS,
                                        "alias \"" + alias + "\" holds a certificate that is not X.509");
            }
            result.add((X509Certificate) c);
        }
        if (result.size() > 1 && isSelfSigned(result.get(result.size() - 1))) {
            result.remove(result.size() - 1);
        }
        return result;
    }

    private static boolean isSelfSigned(X509Certificate c) {
        if (!c.getSubjectX500Principal().equals(c.getIssuerX500Principal())) {
            return false;
        }
        try {
            c.verify(c.getPublicKey());
            return true;
        } catch (GeneralSecurityException e) {
            return false;
        }
    }

    private static String base64Of(X509Certificate c) throws ToolException {
        try {
            return Base64.getEncoder().encodeToString(c.getEncoded());
        } catch (CertificateException e) {
            throw new ToolException("cannot encode certificate " + c.getSubjectX500Principal() + ": " + describe(e));
        }
    }

    private static void addCert(Map<String, String> options) throws ToolException {
        String alias = required(options, "-alias");
        Path input = path(required(options, "-inputjad"));
        Path output = path(required(options, "-outputjad"));
        int chainNum = number(options, "-chainnum");
        Charset charset = encoding(options);

        Descriptor jad = Descriptor.read(input, charset);
        List<X509Certificate> chain = chainOf(loadKeyStore(options), alias);
        String prefix = CERT_PREFIX + chainNum + "-";
        if (options.containsKey("-certnum")) {
            int certNum = number(options, "-certnum");
            if (certNum > chain.size()) {
                throw new ToolException("the chain of alias \"" + alias + "\" has only " + chain.size()
                                        + " certificate(s) to add, not " + certNum);
            }
            jad.set(prefix + certNum, base64Of(chain.get(certNum - 1)));
        } else {
            List<Descriptor.Attribute> entries = new ArrayList<>();
            for (int i = 0; i < chain.size(); i++) {
                entries.add(new Descriptor.Attribute(prefix + (i + 1), base64Of(chain.get(i))));
            }
            jad.replaceGroup(prefix, entries);
        }
        jad.write(output);
    }

    private static Path jarOf(Map<String, String> options, Descriptor jad, Path input) throws ToolException {
        String given = options.get("-jarfile");
        if (given != null) {
            return path(given);
        }
        String url = jad.get("MIDlet-Jar-URL");
        if (url == null || url.isEmpty()) {
            throw new ToolException("no -jarfile given and the descriptor has no MIDlet-Jar-URL");
        }
        if (url.regionMatches(true, 0, "file:", 0, 5)) {
            try {
                return Paths.get(URI.create(url));
            } catch (IllegalArgumentException e) {
                throw new ToolException("MIDlet-Jar-URL \"" + url + "\" is not a usable file URL; give -jarfile");
            }
        }
        if (hasScheme(url)) {
            throw new ToolException("MIDlet-Jar-URL \"" + url + "\" is not a local file; give -jarfile");
        }
        Path folder = input.toAbsolutePath().getParent();
        return folder.resolve(path(url));
    }

    /** True when the text starts with a URL scheme and "://" (a letter, then letters, digits, '+', '.', '-'). */
    private static boolean hasScheme(String url) {
        int colon = url.indexOf("://");
        if (colon < 1 || !isAsciiLetter(url.charAt(0))) {
            return false;
        }
        for (int i = 1; i < colon; i++) {
            char c = url.charAt(i);
            if (!isAsciiLetter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '.' && c != '-') {
                return false;
            }
        }
        return true;
    }

    private static boolean isAsciiLetter(char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    }

    private static void addJarSignature(Map<String, String> options) throws ToolException {
        String alias = required(options, "-alias");
        String storepass = required(options, "-storepass");
        String keypass = options.getOrDefault("-keypass", storepass);
        Path input = path(required(options, "-inputjad"));
        Path output = path(required(options, "-outputjad"));
        Charset charset = encoding(options);

        Descriptor jad = Descriptor.read(input, charset);
        Path jar = jarOf(options, jad, input);
        if (!Files.isRegularFile(jar)) {
            throw new ToolException("jar file " + jar + " not found");
        }
        LoadedStore loaded = loadStore(options);
        requireAlias(loaded.store, alias);
        Key key;
        try {
            key = keyOf(loaded, alias, keypass);
        } catch (UnrecoverableKeyException e) {
            throw new ToolException(ToolException.KEY_PASSWORD, "wrong key password for alias \"" + alias + "\"");
        } catch (GeneralSecurityException e) {
            throw new ToolException("cannot read the key of alias \"" + alias + "\": " + describe(e));
        }
        if (!(key instanceof PrivateKey) || !"RSA".equalsIgnoreCase(key.getAlgorithm())) {
            throw new ToolException(ToolException.ALIAS, "alias \"" + alias + "\" has no RSA private key");
        }
        byte[] signature;
        try (InputStream in = Files.newInputStream(jar)) {
            Signature signer = Signature.getInstance("SHA1withRSA");
            signer.initSign((PrivateKey) key);
            byte[] buffer = new byte[65536];
            for (int n; (n = in.read(buffer)) > 0;) {
                signer.update(buffer, 0, n);
            }
            signature = signer.sign();
        } catch (IOException e) {
            throw new ToolException("cannot read jar file " + jar + ": " + describe(e));
        } catch (GeneralSecurityException e) {
            throw new ToolException("cannot sign with the key of alias \"" + alias + "\": " + describe(e));
        }
        jad.set(JAR_SIGNATURE, Base64.getEncoder().encodeToString(signature));
        jad.write(output);
    }

    private static void showCert(Map<String, String> options, PrintStream out) throws ToolException {
        Path input = path(required(options, "-inputjad"));
        Descriptor jad = Descriptor.read(input, encoding(options));
        boolean all = options.containsKey("-all");
        if (all && (options.containsKey("-certnum") || options.containsKey("-chainnum"))) {
            throw new ToolException("-all cannot be combined with -certnum or -chainnum");
        }
        String wanted = CERT_PREFIX + number(options, "-chainnum") + "-" + number(options, "-certnum");
        boolean found = false;
        for (Descriptor.Attribute a : jad.attributes()) {
            if (all ? a.name.startsWith(CERT_PREFIX) : a.name.equals(wanted)) {
                printCertificate(a, out);
                found = true;
                if (!all) {
                    break;
                }
            }
        }
        if (!found) {
            throw new ToolException(all ? "the descriptor holds no certificate" : "the descriptor has no " + wanted);
        }
    }

    private static void printCertificate(Descriptor.Attribute a, PrintStream out) throws ToolException {
        X509Certificate c;
        byte[] der;
        try {
            der = Base64.getDecoder().decode(a.value);
            c = (X509Certificate) CertificateFactory.getInstance("X.509")
                    .generateCertificate(new java.io.ByteArrayInputStream(der));
        } catch (IllegalArgumentException | CertificateException e) {
            throw new ToolException(a.name + " is not a base64 X.509 certificate");
        }
        out.println(a.name + ":");
        out.println("  Subject: " + c.getSubjectX500Principal());
        out.println("  Issuer: " + c.getIssuerX500Principal());
        out.println("  Serial number: " + c.getSerialNumber().toString(16));
        out.println("  Valid from " + c.getNotBefore() + " until " + c.getNotAfter());
        out.println("  Signature algorithm: " + c.getSigAlgName());
        try {
            out.println("  SHA-1 fingerprint: " + hex(MessageDigest.getInstance("SHA-1").digest(der)));
            out.println("  SHA-256 fingerprint: " + hex(MessageDigest.getInstance("SHA-256").digest(der)));
        } catch (GeneralSecurityException e) {
            throw new ToolException("cannot compute a fingerprint: " + describe(e));
        }
    }

    /** Upper-case hexadecimal pairs joined by colons, as fingerprints are written. */
    private static String hex(byte[] bytes) {
        StringBuilder sb = new StringBuilder(bytes.length * 3);
        for (byte b : bytes) {
            if (sb.length() > 0) {
                sb.append(':');
            }
            sb.append(Character.toUpperCase(Character.forDigit((b >> 4) & 0xF, 16)))
              .append(Character.toUpperCase(Character.forDigit(b & 0xF, 16)));
        }
        return sb.toString();
    }

    static String describe(Exception e) {
        if (e instanceof NoSuchFileException) {
            return "file not found";
        }
        if (e instanceof AccessDeniedException) {
            return "access denied";
        }
        String message = e.getMessage();
        return message != null && !message.isEmpty() ? message : e.getClass().getSimpleName();
    }
}
