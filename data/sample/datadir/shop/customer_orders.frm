TYPE=VIEW
query=select `c`.`name` AS `customer`,`o`.`id` AS `order_id`,`o`.`total` AS `total`,`o`.`status` AS `status` from (`shop`.`customers` `c` join `shop`.`orders` `o` on(`o`.`customer_id` = `c`.`id`)) where `o`.`status` <> \'cancelled\'
md5=766adf11957e49cfa194f2314dce771f
updatable=1
algorithm=0
definer_user=root
definer_host=localhost
suid=2
with_check_option=0
timestamp=0001796864834834796
create-version=2
source=SELECT c.name AS customer, o.id AS order_id, o.total, o.status\n    FROM customers c JOIN orders o ON o.customer_id = c.id\n    WHERE o.status <> \'cancelled\'
client_cs_name=utf8mb4
connection_cl_name=utf8mb4_general_ci
view_body_utf8=select `c`.`name` AS `customer`,`o`.`id` AS `order_id`,`o`.`total` AS `total`,`o`.`status` AS `status` from (`shop`.`customers` `c` join `shop`.`orders` `o` on(`o`.`customer_id` = `c`.`id`)) where `o`.`status` <> \'cancelled\'
mariadb-version=101119
