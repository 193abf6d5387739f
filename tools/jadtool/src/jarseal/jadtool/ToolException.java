package jarseal.jadtool;

/** A failure that ends the run with one line on standard error. */
final class ToolException extends Exception {
    private static final long serialVersionUID = 1L;

    ToolException(String message) {
        super(message);
    }
}
