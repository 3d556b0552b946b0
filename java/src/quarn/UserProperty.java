package quarn;

/** A user property of a network or a node: a name of identifier form and a value text. */
public class UserProperty {
    /** The property's name: a letter, then letters, digits or '_'; unique within its list. */
    public String name;

    /** The property's value: any text without the character U+0000. */
    public String value;

    /**
     * A property.
     *
     * @param name the property's name
     * @param value the property's value
     */
    public UserProperty(String name, String value) {
        this.name = name;
        this.value = value;
    }
}
