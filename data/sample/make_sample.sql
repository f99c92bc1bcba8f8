-- The sample data folder: two databases with MyISAM and InnoDB tables of the common
-- column types, a few rows each, a view and a trigger in each database, one InnoDB
-- table kept in the system tablespace ibdata1, and one table large enough to page.

CREATE DATABASE shop CHARACTER SET utf8mb4 COLLATE utf8mb4_general_ci;
CREATE DATABASE library CHARACTER SET latin1 COLLATE latin1_swedish_ci;

USE shop;

CREATE TABLE customers (
    id INT NOT NULL AUTO_INCREMENT PRIMARY KEY,
    name VARCHAR(100) NOT NULL,
    email VARCHAR(255) NULL,
    city CHAR(30) CHARACTER SET latin1 NULL,
    birthday DATE NULL,
    created DATETIME(3) NOT NULL,
    vip TINYINT(1) NOT NULL DEFAULT 0,
    balance DECIMAL(12,2) NOT NULL DEFAULT 0.00,
    notes TEXT NULL,
    UNIQUE KEY email (email)
) ENGINE=InnoDB COMMENT='People who order';

INSERT INTO customers (name, email, city, birthday, created, vip, balance, notes) VALUES
    ('Ann Byrne', 'ann@example.com', 'Dublin', '1980-02-29', '2021-01-05 09:30:00.125', 1, 120.50, 'Prefers email'),
    ('Seán Ó Briain', 'sean@example.com', 'Galway', '1975-12-31', '2021-03-17 17:00:00.000', 0, -15.75, NULL),
    ('Zoë Müller', 'zoe@example.com', 'Köln', NULL, '2021-06-01 00:00:00.999', 0, 0.00, 'Umlauts: äöü ß'),
    ('Li Wei 李伟', 'li@example.com', NULL, '1990-07-04', '2022-02-02 02:02:02.002', 1, 99999.99, 'CJK name'),
    ('O''Neill & Sons', NULL, 'Cork', '1901-01-01', '2022-08-15 12:00:00.500', 0, 1.00, 'Apostrophe in name'),
    ('Back\\slash Ltd', 'bs@example.com', 'Limerick', '2000-01-01', '2023-01-01 23:59:59.999', 0, 2.25, 'Line one\nline two\ttabbed'),
    ('Emoji Shop', 'emoji@example.com', 'Sligo', '1999-09-09', '2023-05-05 05:05:05.050', 1, 3.30, 'Smile 😀'),
    ('Nobody', 'gone@example.com', 'Nowhere', NULL, '2023-06-06 06:06:06.000', 0, 0.00, 'deleted below'),
    ('Mary Walsh', 'mary@example.com', 'Waterford', '1985-05-20', '2024-02-29 10:10:10.100', 0, 42.00, ''),
    ('Pat Kelly', 'pat@example.com', 'Kilkenny', '1970-10-10', '2024-12-24 18:00:00.000', 1, 7.77, 'Last');
DELETE FROM customers WHERE name = 'Nobody';

CREATE TABLE products (
    id SMALLINT UNSIGNED NOT NULL PRIMARY KEY,
    sku CHAR(8) NOT NULL,
    title CHAR(40) NOT NULL,
    price DECIMAL(10,2) NOT NULL,
    weight FLOAT NULL,
    rating DOUBLE NULL,
    stock MEDIUMINT NOT NULL,
    delta TINYINT NOT NULL,
    flags BIT(5) NOT NULL,
    category ENUM('book','music','garden','kitchen') NOT NULL,
    tags SET('new','sale','gift','eco') NOT NULL,
    added YEAR NULL,
    barcode BIGINT UNSIGNED NULL
) ENGINE=MyISAM ROW_FORMAT=FIXED;

INSERT INTO products VALUES
    (1, 'BK-0001', 'Irish Poetry', 12.99, 0.45, 4.5, 120, -3, b'10101', 'book', 'new,gift', 2019, 9780000000001),
    (2, 'MU-0002', 'Fiddle Tunes', 9.50, 0.1, 3.25, 0, 0, b'00000', 'music', '', 2020, NULL),
    (3, 'GA-0003', 'Spade', 24.00, 1.75, NULL, -5, 127, b'11111', 'garden', 'eco', 2021, 18446744073709551615),
    (4, 'KI-0004', 'Teapot', 18.25, 0.9, 4.999, 8388607, -128, b'00001', 'kitchen', 'sale,eco', 1901, 0),
    (5, 'BK-0005', 'Old Maps', 0.01, 1e-20, 1e300, -8388608, 1, b'10000', 'book', 'new,sale,gift,eco', 2155, 1),
    (6, 'XX-0006', 'Discontinued', 1.00, 0, 0, 0, 0, b'00000', 'book', '', NULL, NULL),
    (7, 'MU-0007', 'Sean-nós Songs', 15.00, 0.2, 4.0, 33, 2, b'01010', 'music', 'gift', 2022, 9780000000007),
    (8, 'GA-0008', 'Hose 25m', 29.99, 3.2, 3.9, 12, -1, b'00110', 'garden', 'sale', 2023, 9780000000008),
    (9, 'KI-0009', 'Bread Knife', 11.11, 0.3, 4.1, 40, 5, b'11000', 'kitchen', 'new', 2024, 9780000000009),
    (10, 'BK-0010', 'It''s a Title', 99999999.99, -2.5, -0.125, 1, -50, b'00011', 'book', 'eco', 2000, 10);
DELETE FROM products WHERE id = 6;

SET GLOBAL innodb_file_per_table = 0;
CREATE TABLE orders (
    id BIGINT NOT NULL PRIMARY KEY,
    customer_id INT NOT NULL,
    product_id SMALLINT UNSIGNED NOT NULL,
    qty INT NOT NULL,
    ordered_at TIMESTAMP NOT NULL DEFAULT CURRENT_TIMESTAMP,
    ship_time TIME NULL,
    total DECIMAL(12,2) NOT NULL,
    status ENUM('open','paid','shipped','cancelled') NOT NULL DEFAULT 'open',
    KEY customer_id (customer_id)
) ENGINE=InnoDB COMMENT='Stored in the system tablespace';
SET GLOBAL innodb_file_per_table = 1;

CREATE TABLE order_log (
    id INT NOT NULL AUTO_INCREMENT PRIMARY KEY,
    order_id BIGINT NOT NULL,
    message VARCHAR(200) NOT NULL,
    logged_at DATETIME NOT NULL
) ENGINE=MyISAM;

CREATE TRIGGER orders_after_insert AFTER INSERT ON orders FOR EACH ROW
    INSERT INTO order_log (order_id, message, logged_at)
    VALUES (NEW.id, CONCAT('order ', NEW.id, ' for customer ', NEW.customer_id, ' it''s new'),
            NEW.ordered_at);

INSERT INTO orders VALUES
    (1001, 1, 1, 2, '2024-01-10 10:00:00', '10:30:00', 25.98, 'paid'),
    (1002, 2, 3, 1, '2024-01-11 11:15:00', NULL, 24.00, 'open'),
    (1003, 3, 4, 3, '2024-02-01 08:00:00', '-01:15:30', 54.75, 'shipped'),
    (1004, 4, 5, 100, '2024-02-29 23:59:59', '838:59:59', 1.00, 'cancelled'),
    (1005, 1, 7, 1, '2024-03-01 00:00:01', '00:00:00', 15.00, 'paid'),
    (1006, 5, 8, 2, '2024-03-17 12:00:00', '12:00:00', 59.98, 'shipped'),
    (1007, 6, 9, 1, '2024-04-01 09:09:09', NULL, 11.11, 'open'),
    (1008, 7, 10, 1, '2024-05-05 05:05:05', '05:05:05', 99999999.99, 'paid'),
    (1009, 9, 2, 4, '2024-06-21 21:21:21', '21:21:21', 38.00, 'shipped'),
    (1010, 10, 1, 1, '2038-01-19 03:14:07', '23:59:59', 12.99, 'open');

CREATE VIEW customer_orders AS
    SELECT c.name AS customer, o.id AS order_id, o.total, o.status
    FROM customers c JOIN orders o ON o.customer_id = c.id
    WHERE o.status <> 'cancelled';

USE library;

CREATE TABLE authors (
    id INT NOT NULL AUTO_INCREMENT PRIMARY KEY,
    name VARCHAR(80) NOT NULL,
    born DATE NULL,
    country CHAR(2) NOT NULL DEFAULT 'IE',
    bio TEXT NULL
) ENGINE=MyISAM;

INSERT INTO authors (name, born, country, bio) VALUES
    ('James Joyce', '1882-02-02', 'IE', 'Dublin''s novelist'),
    ('W. B. Yeats', '1865-06-13', 'IE', NULL),
    ('Flann O''Brien', '1911-10-05', 'IE', 'Also wrote as Myles na gCopaleen'),
    ('Jane Austen', '1775-12-16', 'GB', 'Six novels'),
    ('Gabriel García Márquez', '1927-03-06', 'CO', 'Latin-1 accents: áéíóú ñ'),
    ('Anonymous', NULL, '--', ''),
    ('Samuel Beckett', '1906-04-13', 'IE', 'Wrote in English and French'),
    ('Maeve Binchy', '1940-05-28', 'IE', 'Long bio ' ),
    ('Edna O''Brien', '1930-12-15', 'IE', NULL),
    ('Oscar Wilde', '1854-10-16', 'IE', 'Epigrams');
UPDATE authors SET bio = CONCAT(bio, REPEAT('and more ', 40)) WHERE name = 'Maeve Binchy';

CREATE TABLE books (
    isbn CHAR(13) NOT NULL PRIMARY KEY,
    title VARCHAR(200) CHARACTER SET utf8mb4 NOT NULL,
    author_id INT NOT NULL,
    published YEAR NULL,
    pages SMALLINT UNSIGNED NULL,
    price DECIMAL(6,2) NULL,
    summary TEXT CHARACTER SET utf8mb4 NULL,
    cover BLOB NULL,
    details JSON NULL,
    KEY author_id (author_id)
) ENGINE=InnoDB ROW_FORMAT=DYNAMIC;

INSERT INTO books VALUES
    ('9780000000101', 'Ulysses', 1, 1922, 730, 15.99, 'A day in Dublin', x'89504E470D0A1A0A', '{"language": "en", "chapters": 18}'),
    ('9780000000102', 'Dubliners', 1, 1914, 152, 9.99, NULL, NULL, NULL),
    ('9780000000103', 'The Tower', 2, 1928, 112, 7.50, 'Poems', x'00FF00FF', '{"form": "poetry"}'),
    ('9780000000104', 'At Swim-Two-Birds', 3, 1939, 240, 11.00, REPEAT('A long summary. ', 1200), x'', '[]'),
    ('9780000000105', 'Emma', 4, 2015, 474, 8.25, 'Matchmaking', NULL, '{"series": null}'),
    ('9780000000106', 'Cien años de soledad', 5, 1967, 417, 13.40, 'Macondo — ñ', NULL, '{"original": "es"}'),
    ('9780000000107', 'Waiting for Godot', 7, 1953, 109, 6.00, 'Nothing happens, twice', NULL, NULL),
    ('9780000000108', 'Circle of Friends', 8, 1990, 565, 10.99, 'Friendship', REPEAT(x'DEADBEEF', 3000), '{"film": 1995}'),
    ('9780000000109', 'The Country Girls', 9, 1960, 240, 9.00, 'Kate and Baba', NULL, NULL),
    ('9780000000110', 'The Picture of Dorian Gray', 10, 1990, 254, 5.99, 'It''s a portrait\\n', NULL, '{"quote": "It''s \\"art\\""}');

CREATE TABLE loans (
    book_isbn CHAR(13) NOT NULL,
    member VARCHAR(50) NOT NULL,
    loaned DATE NOT NULL,
    returned DATE NULL,
    fine DECIMAL(5,2) NULL
) ENGINE=InnoDB ROW_FORMAT=COMPACT;

CREATE TRIGGER loans_before_update BEFORE UPDATE ON loans FOR EACH ROW
    SET NEW.fine = IF(NEW.returned > NEW.loaned + INTERVAL 14 DAY,
                      DATEDIFF(NEW.returned, NEW.loaned + INTERVAL 14 DAY) * 0.10, 0);

INSERT INTO loans VALUES
    ('9780000000101', 'Ann', '2024-01-02', NULL, NULL),
    ('9780000000102', 'Seán', '2024-01-03', NULL, NULL),
    ('9780000000103', 'Zoë', '2024-01-04', NULL, NULL),
    ('9780000000104', 'Li', '2024-01-05', NULL, NULL),
    ('9780000000105', 'Mary', '2024-01-06', NULL, NULL),
    ('9780000000106', 'Pat', '2024-01-07', NULL, NULL),
    ('9780000000101', 'Pat', '2024-02-01', NULL, NULL),
    ('9780000000108', 'Ann', '2024-02-02', NULL, NULL),
    ('9780000000109', 'Ann', '2024-02-03', NULL, NULL),
    ('9780000000110', 'Zoë', '2024-02-04', NULL, NULL);
UPDATE loans SET returned = loaned + INTERVAL 10 DAY WHERE member = 'Ann';
UPDATE loans SET returned = loaned + INTERVAL 30 DAY WHERE member = 'Pat';

CREATE TABLE visits (
    id INT UNSIGNED NOT NULL PRIMARY KEY,
    visited DATETIME NOT NULL,
    minutes SMALLINT NOT NULL,
    note VARCHAR(20) NULL
) ENGINE=InnoDB;
INSERT INTO visits
    SELECT seq, '2024-01-01 08:00:00' + INTERVAL seq MINUTE, seq % 240,
           IF(seq % 7 = 0, NULL, CONCAT('visit ', seq))
    FROM seq_1_to_2500;

CREATE VIEW available_books AS
    SELECT b.isbn, b.title, a.name AS author
    FROM books b JOIN authors a ON a.id = b.author_id
    WHERE b.isbn NOT IN (SELECT book_isbn FROM loans WHERE returned IS NULL);
