package quarn;

/** A document attached to a node or to an outcome of a node: a title and a path. */
public class DocItemInfo {
    /** The document's title. */
    public String title;

    /** Where the document is: a file path or an address. */
    public String path;

    /**
     * A document.
     *
     * @param title the document's title
     * @param path where the document is
     */
    public DocItemInfo(String title, String path) {
        this.title = title;
        this.path = path;
    }
}
