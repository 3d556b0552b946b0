package quarn;

/** The one exception the native library raises: every failure of a native method ends here. */
public class QUARNException extends RuntimeException {
    private static final long serialVersionUID = 1L;

    /**
     * An exception with a message.
     *
     * @param message what went wrong
     */
    public QUARNException(String message) {
        super(message);
    }
}
