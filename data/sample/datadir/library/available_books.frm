TYPE=VIEW
query=select `b`.`isbn` AS `isbn`,`b`.`title` AS `title`,`a`.`name` AS `author` from (`library`.`books` `b` join `library`.`authors` `a` on(`a`.`id` = `b`.`author_id`)) where !(`b`.`isbn` in (select `library`.`loans`.`book_isbn` from `library`.`loans` where `library`.`loans`.`returned` is null))
md5=954851b02bfeb4cd12daad941d09b04b
updatable=1
algorithm=0
definer_user=root
definer_host=localhost
suid=2
with_check_option=0
timestamp=0001796864835074813
create-version=2
source=SELECT b.isbn, b.title, a.name AS author\n    FROM books b JOIN authors a ON a.id = b.author_id\n    WHERE b.isbn NOT IN (SELECT book_isbn FROM loans WHERE returned IS NULL)
client_cs_name=utf8mb4
connection_cl_name=utf8mb4_general_ci
view_body_utf8=select `b`.`isbn` AS `isbn`,`b`.`title` AS `title`,`a`.`name` AS `author` from (`library`.`books` `b` join `library`.`authors` `a` on(`a`.`id` = `b`.`author_id`)) where !(`b`.`isbn` in (select `library`.`loans`.`book_isbn` from `library`.`loans` where `library`.`loans`.`returned` is null))
mariadb-version=101119
