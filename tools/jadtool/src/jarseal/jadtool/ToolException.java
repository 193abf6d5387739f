package jarseal.jadtool;

/**
 * A failure that ends the run with one line on standard error and the exit status {@link #status}. A key store
 * fault has a status of its own, so a caller can say which part was refused without reading the message; every
 * other failure ends with {@link #OTHER}.
 */
final class ToolException extends Exception {
    private static final long serialVersionUID = 1L;

    /** Any failure that is not one of the key store faults below. */
    static final int OTHER = 1;
    /** The key store file is missing, cannot be read, or is not a JKS or PKCS12 key store. */
    static final int KEY_STORE = 2;
    /** The key store's password is wrong. */
    static final int STORE_PASSWORD = 3;
    /** The alias is not in the key store, or has no certificate or no RSA private key. */
    static final int ALIAS = 4;
    /** The password of the alias's key is wrong. */
    static final int KEY_PASSWORD = 5;

    final int status;

    ToolException(String message) {
        this(OTHER, message);
    }

    ToolException(int status, String message) {
        super(message);
        this.status = status;
    }
}
